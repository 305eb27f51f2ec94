// quillon-collector: the reference collection server (crash, configuration, feedback and
// file-store endpoints in one process) used by the demo and the end-to-end tests.
#include "Policy.h"
#include "Server.h"
#include "Store.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

const char* kUsage =
    "usage: quillon-collector [options]\n"
    "       quillon-collector dump [--db PATH] [--lines N]\n"
    "\n"
    "options:\n"
    "  --host ADDR          address to listen on (default 127.0.0.1)\n"
    "  --port N             port (default 8480; 0 picks a free one). The first stdout line is\n"
    "                       \"listening on ADDR:PORT\".\n"
    "  --db PATH            SQLite database (default ./quillon-collector.db; \":memory:\" keeps\n"
    "                       nothing on disk)\n"
    "  --policy FILE        JSON answer policy, re-read on every request\n"
    "  --answer MODE        ok | en1 | code1 | http500 | slow | garbage | noanswer | emptydata | nocode\n"
    "  --slow-ms N          delay of the slow mode (default 1000)\n"
    "  --hold-ms N          how long noanswer holds a connection (default 60000)\n"
    "  --config-json JSON   configuration answer values, e.g. '{\"up\":1,\"rc\":2,\"to\":3,\"cv\":4}'\n"
    "  --verbose            log every request to stderr\n"
    "\n"
    "Inspection: GET /_collector/records | feedback | files | files/ID.jpg | rejects | policy;\n"
    "control: POST /_collector/policy (JSON policy layer), POST /_collector/reset.\n";

const char* kDefaultDb = "quillon-collector.db";

int fail(const std::string& msg) {
    std::cerr << "quillon-collector: " << msg << "\n";
    return 2;
}

bool parseInt(const std::string& s, int& out) {
    try {
        std::size_t used = 0;
        out = std::stoi(s, &used);
        return used == s.size();
    } catch (...) {
        return false;
    }
}

std::string clip(const std::string& s, std::size_t n) { return s.size() <= n ? s : s.substr(0, n - 3) + "..."; }

int dump(int argc, char** argv) {
    std::string db = kDefaultDb;
    int lines = 5;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--db" && i + 1 < argc)
            db = argv[++i];
        else if (a == "--lines" && i + 1 < argc && parseInt(argv[i + 1], lines))
            ++i;
        else
            return fail("dump: unknown argument " + a + "\n" + kUsage);
    }
    struct stat st {};
    if (stat(db.c_str(), &st) != 0) return fail("dump: no database at " + db);
    try {
        collector::Store store(db);
        const auto records = store.records();
        std::printf("records: %zu\n", records.size());
        std::printf("%-5s %-22s %-30s %s\n", "id", "action", "exception", "reason");
        for (const auto& r : records) {
            std::string action = r["ac"].get<std::string>();
            if (r["item_ac"] != r["ac"]) action += "/" + r["item_ac"].get<std::string>();
            std::printf("%-5lld %-22s %-30s %s\n", static_cast<long long>(r["id"].get<std::int64_t>()),
                        action.c_str(), clip(r["name"].get<std::string>(), 30).c_str(),
                        clip(r["reason"].get<std::string>(), 100).c_str());
            std::istringstream bt(r["backtrace"].get<std::string>());
            std::string line;
            for (int n = 0; n < lines && std::getline(bt, line); ++n) std::printf("        %s\n", line.c_str());
        }
        const auto feedback = store.feedback();
        std::printf("\nfeedback: %zu\n", feedback.size());
        for (const auto& f : feedback)
            std::printf("%-5lld %-10s %s\n", static_cast<long long>(f["id"].get<std::int64_t>()),
                        f["type"].get<std::string>().c_str(), clip(f["message"].get<std::string>(), 100).c_str());
        const auto files = store.files();
        std::printf("\nfiles: %zu\n", files.size());
        for (const auto& f : files)
            std::printf("%-5lld %lld bytes\n", static_cast<long long>(f["id"].get<std::int64_t>()),
                        static_cast<long long>(f["size"].get<std::int64_t>()));
    } catch (const std::exception& e) {
        return fail(std::string("dump: ") + e.what());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "dump") == 0) return dump(argc, argv);

    std::string host = "127.0.0.1", db = kDefaultDb, policyFile;
    int port = 8480;
    bool verbose = false;
    collector::Json cli = collector::Json::object();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        int n = 0;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--verbose") {
            verbose = true;
        } else if (!hasValue) {
            return fail("missing value for " + a + "\n" + kUsage);
        } else if (a == "--host") {
            host = argv[++i];
        } else if (a == "--port") {
            if (!parseInt(argv[++i], port) || port < 0 || port > 65535) return fail("bad port");
        } else if (a == "--db") {
            db = argv[++i];
        } else if (a == "--policy") {
            policyFile = argv[++i];
        } else if (a == "--answer") {
            cli["mode"] = argv[++i];
        } else if (a == "--slow-ms" || a == "--hold-ms") {
            if (!parseInt(argv[++i], n) || n < 0) return fail("bad value for " + a);
            cli[a == "--slow-ms" ? "slowMs" : "holdMs"] = n;
        } else if (a == "--config-json") {
            auto cfg = collector::Json::parse(argv[++i], nullptr, false);
            if (cfg.is_discarded() || !cfg.is_object()) return fail("--config-json needs a JSON object");
            cli["config"] = cfg;
        } else {
            return fail("unknown argument " + a + "\n" + kUsage);
        }
    }
    if (auto problem = collector::validatePolicy(cli); !problem.empty()) return fail(problem);

    // Signals are taken by one thread with sigwait; every other thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        collector::Store store(db);
        collector::Policy policy;
        policy.setCommandLine(cli);
        policy.setFile(policyFile);
        collector::Server server(store, policy, verbose);
        const int bound = server.bind(host, port);
        if (bound < 0) return fail("cannot listen on " + host + ":" + std::to_string(port));

        std::mutex doneMutex;
        std::condition_variable doneCv;
        bool done = false;
        std::thread signalThread([&] {
            int sig = 0;
            sigwait(&stopSignals, &sig);
            server.stop();
            // Idle keep-alive connections may keep workers around for seconds; do not wait
            // for them. Closing the store first waits for any write in progress.
            std::unique_lock lock(doneMutex);
            if (!doneCv.wait_for(lock, std::chrono::milliseconds(1500), [&] { return done; })) {
                store.close();
                std::_Exit(0);
            }
        });

        std::printf("listening on %s:%d\n", host.c_str(), bound);
        std::fflush(stdout);
        if (verbose) std::cerr << "quillon-collector: database " << db << "\n";
        server.run();
        {
            std::lock_guard lock(doneMutex);
            done = true;
        }
        doneCv.notify_all();
        kill(getpid(), SIGTERM);  // wakes the signal thread when serving ended on its own
        signalThread.join();
        store.close();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    std::fflush(stdout);
    std::_Exit(0);
}
