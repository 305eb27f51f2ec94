#include "support/Collector.h"

#include "support/PostgresCluster.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testenv {

namespace {

// Reads one line from fd, waiting at most timeoutMs overall.
std::string readLine(int fd, int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) break;
        if (c == '\n') break;
        line += c;
    }
    return line;
}

}  // namespace

Collector::Collector(const std::vector<std::string>& extraArgs, bool testMode) {
    // QUILLON_TEST_STORE=postgresql runs the collector on a database in a PostgreSQL cluster
    // of this test process's own.
    const char* engine = std::getenv("QUILLON_TEST_STORE");
    if (engine && std::string(engine) == "postgresql") {
        static std::unique_ptr<PostgresCluster> cluster;
        if (!cluster) cluster = std::make_unique<PostgresCluster>();
        db_ = cluster->newDatabase();
    } else {
        db_ = makeTempDir("quillon-collector") + "/db.sqlite";
    }
    std::vector<std::string> args = {QUILLON_COLLECTOR_PATH, "--port", "0", "--db", db_};
    if (testMode) args.emplace_back("--test-mode");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    bool control = false;
    for (const auto& a : extraArgs) control = control || a == "--control-port";
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The collector runs without thread-sanitizer reports of its own: under the tsan preset
    // they come from the uninstrumented HTTP library it is built on, not from code under test.
    std::vector<std::string> env;
    bool hasTsan = false;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("TSAN_OPTIONS=", 0) == 0) {
            entry += " report_bugs=0";
            hasTsan = true;
        }
        env.push_back(std::move(entry));
    }
    if (!hasTsan) env.emplace_back("TSAN_OPTIONS=report_bugs=0");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        pid_ = -1;
        throw std::runtime_error(std::string("cannot start ") + argv[0]);
    }
    const std::string line = readLine(pipeFds[0], 15000);
    // "control on 127.0.0.1:PORT" follows when asked for; nothing else is read from stdout.
    const std::string controlLine = control ? readLine(pipeFds[0], 5000) : "";
    if (controlLine.rfind("control on ", 0) == 0) controlPort_ = std::atoi(controlLine.c_str() + controlLine.rfind(':') + 1);
    close(pipeFds[0]);
    // "listening on ADDR:PORT"; every address the tests use is reachable on loopback.
    if (line.rfind("listening on ", 0) == 0) port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    if (port_ <= 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::runtime_error("collector did not start: \"" + line + "\"");
    }
}

Collector::~Collector() { stop(); }

int Collector::stop() {
    if (pid_ <= 0) return -1;
    const pid_t pid = pid_;
    pid_ = -1;
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 250; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

void Collector::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string Collector::host() const { return "127.0.0.1:" + std::to_string(port_); }
std::string Collector::url(const std::string& path) const { return "http://" + host() + path; }

Collector::Reply Collector::post(const std::string& path, const std::string& body,
                                 const std::map<std::string, std::string>& headers, const std::string& contentType,
                                 double readTimeoutSeconds) {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    const auto usec = static_cast<long>(readTimeoutSeconds * 1e6);
    client.set_read_timeout(usec / 1000000, usec % 1000000);
    httplib::Headers h(headers.begin(), headers.end());
    Reply reply;
    if (auto res = client.Post(path, h, body, contentType)) {
        reply.status = res->status;
        reply.body = res->body;
        reply.contentType = res->get_header_value("Content-Type");
        reply.headers.insert(res->headers.begin(), res->headers.end());
    }
    return reply;
}

Collector::Reply Collector::get(const std::string& path, const std::map<std::string, std::string>& headers) {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    client.set_read_timeout(10, 0);
    Reply reply;
    if (auto res = client.Get(path, httplib::Headers(headers.begin(), headers.end()))) {
        reply.status = res->status;
        reply.body = res->body;
        reply.contentType = res->get_header_value("Content-Type");
        reply.headers.insert(res->headers.begin(), res->headers.end());
    }
    return reply;
}

platform::Value Collector::getJson(const std::string& path) {
    Reply r = get(path);
    platform::Value v = platform::Value::parse(r.body, nullptr, false);
    if (r.status != 200 || !v.is_array()) {
        ADD_FAILURE() << "collector GET " << path << " failed: status " << r.status << " " << r.body;
        return platform::Value::array();
    }
    return v;
}

platform::Value Collector::records() { return getJson("/_collector/records"); }
platform::Value Collector::feedback() { return getJson("/_collector/feedback"); }
platform::Value Collector::files() { return getJson("/_collector/files"); }
platform::Value Collector::rejects() { return getJson("/_collector/rejects"); }

platform::Value Collector::setPolicy(const platform::Value& policy) {
    Reply r = post("/_collector/policy", policy.dump());
    if (r.status != 200) {
        ADD_FAILURE() << "collector rejected policy " << policy.dump() << ": " << r.status << " " << r.body;
        return nullptr;
    }
    return platform::Value::parse(r.body, nullptr, false);
}

void Collector::reset() {
    Reply r = post("/_collector/reset", "");
    if (r.status != 200) ADD_FAILURE() << "collector reset failed: " << r.status;
}

platform::Value Collector::waitFor(const std::string& path, std::size_t n, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (true) {
        platform::Value v = getJson(path);
        if (v.size() >= n || std::chrono::steady_clock::now() >= deadline) return v;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

platform::Value Collector::waitForRecords(std::size_t n, double timeoutSeconds) {
    return waitFor("/_collector/records", n, timeoutSeconds);
}

platform::Value Collector::waitForFeedback(std::size_t n, double timeoutSeconds) {
    return waitFor("/_collector/feedback", n, timeoutSeconds);
}

}  // namespace testenv
