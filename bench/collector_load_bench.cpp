// Load on the collector: client threads on keep-alive connections send realistic crash records
// (40-line backtraces, a device record, 30 breadcrumbs) for a fixed time; printed are the
// acknowledged records per second and the latency percentiles, for an SQLite database, for
// PostgreSQL (a cluster of the benchmark's own, fsync on), and for the HTTP floor: a server on
// the same HTTP library answering at once without storing anything.
//   collector_load_bench [seconds per run, default 5] [client threads, default 8]
#include "support/Collector.h"
#include "support/PostgresCluster.h"
#include "support/TestEnv.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

std::string crashBody(int client, int i) {
    std::string et = "Application received signal SIGSEGV\n";
    char line[200];
    for (int n = 0; n < 40; ++n) {
        std::snprintf(line, sizeof line, "%-3d %-35s 0x%016lx 0x%016lx %s + %d\n", n, "libexample.so",
                      0x7f0000001000ul + n * 0x40, 0x1000ul + n * 0x40, "_ZN7example8functionEv", n);
        et += line;
    }
    Json crumbs = Json::array();
    for (int n = 0; n < 30; ++n)
        crumbs.push_back({{"tm", 1796699990000000000LL + n}, {"nm", "opened screen " + std::to_string(n)}});
    return Json{{"dei",
                 {{"und", "device-" + std::to_string(client) + "-" + std::to_string(i % 50)},
                  {"av", "2.4(117)"},
                  {"ov", "12"},
                  {"mt", "x86_64"},
                  {"ori", "portrait"},
                  {"sw", 1920},
                  {"sh", 1080}}},
                {"nwt", {{"nt", "1"}, {"isp", ""}}},
                {"data",
                 {{"name", "exception Signal"},
                  {"et", et},
                  {"tm", "1796700000"},
                  {"csc", Json::array({{{"une", "tester"}}, {{"bbs", crumbs}}})},
                  {"ty", "2"}}}}
        .dump();
}

struct Figures {
    double perSecond = 0, p50Ms = 0, p99Ms = 0;
    long failed = 0;
};

Figures load(int port, double seconds, int threads) {
    const std::string envelope = R"({"ak":"bench","tm":"1796700000","ac":"submit","pro":"5.2.0","ty":"1"})";
    std::vector<std::vector<double>> latencies(threads);
    std::atomic<long> failed{0};
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    std::vector<std::thread> clients;
    for (int t = 0; t < threads; ++t)
        clients.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(30, 0);
            for (int i = 0; Clock::now() < end; ++i) {
                const std::string body = crashBody(t, i);
                const auto start = Clock::now();
                auto res = client.Post("/cpi/crash", {{"UPLOAD-JSON", envelope}}, body, "application/json");
                if (!res || res->status != 200) {
                    ++failed;
                    continue;
                }
                latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        });
    const auto began = Clock::now();
    for (auto& c : clients) c.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Figures f;
    f.failed = failed;
    if (all.empty()) return f;
    f.perSecond = static_cast<double>(all.size()) / elapsed;
    f.p50Ms = all[all.size() / 2];
    f.p99Ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    return f;
}

void print(const char* name, const Figures& f) {
    std::printf("%-34s %10.0f %9.2f %9.2f %7ld\n", name, f.perSecond, f.p50Ms, f.p99Ms, f.failed);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 8;
    std::string loadavg;
    std::getline(std::ifstream("/proc/loadavg"), loadavg);
    std::printf("collector load: %d keep-alive clients, %.0f s per run, load average %s\n", threads, seconds,
                loadavg.c_str());
    std::printf("%-34s %10s %9s %9s %7s\n", "", "records/s", "p50 ms", "p99 ms", "failed");

    {
        // The floor: the same HTTP library and worker pool, nothing stored.
        httplib::Server floor;
        floor.new_task_queue = [] { return new httplib::ThreadPool(64); };
        floor.set_tcp_nodelay(true);
        floor.Post("/cpi/crash", [](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& r) {
            std::string body;
            r([&](const char* d, size_t n) {
                body.append(d, n);
                return true;
            });
            res.set_content(Json::parse(body, nullptr, false).is_discarded() ? "{\"en\":1}" : "{\"en\":0}",
                            "application/json");
        });
        const int port = floor.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { floor.listen_after_bind(); });
        print("HTTP floor (no storage)", load(port, seconds, threads));
        floor.stop();
        serving.join();
    }
    {
        testenv::Collector c({"--db", testenv::makeTempDir("load-bench") + "/db.sqlite"});
        print("SQLite (WAL, synchronous=FULL)", load(c.port(), seconds, threads));
    }
    try {
        testenv::PostgresCluster cluster(true);
        const std::string db = cluster.newDatabase();
        {
            testenv::Collector c({"--db", db});
            print("PostgreSQL, one collector", load(c.port(), seconds, threads));
        }
        {
            testenv::Collector a({"--db", db}), b({"--db", db});
            // Two processes, the clients split between them (no proxy in between).
            Figures fa, fb;
            std::thread other([&] { fb = load(b.port(), seconds, threads / 2); });
            fa = load(a.port(), seconds, threads - threads / 2);
            other.join();
            Figures both{fa.perSecond + fb.perSecond, std::max(fa.p50Ms, fb.p50Ms), std::max(fa.p99Ms, fb.p99Ms),
                         fa.failed + fb.failed};
            print("PostgreSQL, two collectors", both);
        }
    } catch (const std::exception& e) {
        std::printf("PostgreSQL: %s\n", e.what());
        return 1;
    }
    return 0;
}
