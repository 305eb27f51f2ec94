// Round trip of one crash-side request to quillon-collector over a reused connection
// (libcurl keeps the connection between iterations).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

namespace {

struct CollectorProcess {
    pid_t pid = -1;
    int port = 0;
    CollectorProcess() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
        char* argv[] = {const_cast<char*>(QUILLON_COLLECTOR_PATH), const_cast<char*>("--port"),
                        const_cast<char*>("0"), const_cast<char*>("--db"), const_cast<char*>(":memory:"), nullptr};
        const bool started = posix_spawn(&pid, argv[0], &fa, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        std::string line;
        char c;
        while (started && read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        close(fds[0]);
        const auto colon = line.rfind(':');
        if (colon != std::string::npos) port = std::atoi(line.c_str() + colon + 1);
    }
    ~CollectorProcess() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

size_t discard(char*, size_t size, size_t n, void*) { return size * n; }

void BM_CollectorRoundTripReusedConnection(benchmark::State& state) {
    CollectorProcess collector;
    if (collector.port <= 0) {
        state.SkipWithError("collector did not start");
        return;
    }
    CURL* curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(collector.port) + "/cpi/crash";
    curl_slist* headers = curl_slist_append(
        nullptr, R"(UPLOAD-JSON: {"ak":"bench","tm":"1700000000","ac":"register","pro":"5.2.0","ty":"1"})");
    const std::string body = R"({"dei":{"model":"bench"}})";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    for (auto _ : state) {
        if (curl_easy_perform(curl) != CURLE_OK) {
            state.SkipWithError("request failed");
            break;
        }
    }
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    state.counters["last_request_new_connections"] = static_cast<double>(connects);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}
BENCHMARK(BM_CollectorRoundTripReusedConnection)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
