// Round trip of one crash-side request to quillon-collector over a reused connection
// (libcurl keeps the connection between iterations); and ingest of normal crash records (40
// backtrace lines) beside the worst case for the line parser (800 KB, 100 lines of repeated hex
// digits), each with the longest time another client's report waited meanwhile.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchTiming.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

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

// One client on a connection of its own, posting crash records.
struct Reporter {
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(
        nullptr, R"(UPLOAD-JSON: {"ak":"bench","tm":"1700000000","ac":"submit","pro":"5.2.0","ty":"1"})");
    explicit Reporter(int port) {
        static std::string url;
        url = "http://127.0.0.1:" + std::to_string(port) + "/cpi/crash";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    }
    ~Reporter() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
    }
    bool post(const std::string& body) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        long status = 0;
        return curl_easy_perform(curl) == CURLE_OK &&
               curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    }
};

std::string crashBody(const std::string& backtrace) {
    std::string et = "Application received signal SIGSEGV" + backtrace;
    std::string quoted;
    for (char c : et) quoted += c == '\n' ? std::string("\\n") : std::string(1, c);
    return R"x({"dei":{"und":"bench-device","av":"1.0(1)","ov":"12"},"data":{"name":"exception Signal","et":")x" +
           quoted + R"(","tm":"1700000000"}})";
}

std::string normalRecord(int i) {
    std::string bt;
    char line[256];
    for (int n = 0; n < 40; ++n) {
        std::snprintf(line, sizeof line, "\n%-3d %-35s 0x%016lx 0x%016lx %s + %d", n, n < 3 ? "libc.so.6" : "app",
                      0x7f0000001000ul + n + i, 0x1000ul + n, "_ZN7example8functionEi", n);
        bt += line;
    }
    return crashBody(bt);
}

std::string worstRecord() {
    std::string bt;
    for (int n = 0; n < 100; ++n) bt += "\n" + std::to_string(n) + " " + std::string(8000, 'f');
    return crashBody(bt);
}

struct IngestFigures {
    double perRecordMs = 0;
    double otherMaxWaitMs = 0;
    bool ok = true;
};

// Posts `count` records while another client reports a small record after another; the time
// per record and the longest round trip the other client saw.
IngestFigures ingest(int port, int count, const std::string& (*record)(int)) {
    IngestFigures f;
    std::atomic<bool> done{false};
    double otherMax = 0;
    bool otherOk = true;
    std::thread other([&] {
        Reporter r(port);
        const std::string small = normalRecord(0);
        while (!done) {
            const auto t0 = benchtiming::nowNs();
            if (!r.post(small)) otherOk = false;
            otherMax = std::max(otherMax, (benchtiming::nowNs() - t0) / 1e6);
        }
    });
    Reporter r(port);
    const auto t0 = benchtiming::nowNs();
    for (int i = 0; i < count; ++i)
        if (!r.post(record(i))) f.ok = false;
    f.perRecordMs = (benchtiming::nowNs() - t0) / 1e6 / count;
    done = true;
    other.join();
    f.otherMaxWaitMs = otherMax;
    f.ok = f.ok && otherOk;
    return f;
}

const std::string& normalAt(int i) {
    static std::vector<std::string> records = [] {
        std::vector<std::string> v;
        for (int n = 0; n < 1000; ++n) v.push_back(normalRecord(n));
        return v;
    }();
    return records[static_cast<std::size_t>(i) % records.size()];
}

const std::string& worstAt(int) {
    static const std::string record = worstRecord();
    return record;
}

// 1,000 normal records (the baseline) and 20 worst-case ones, in one collector.
void BM_CollectorIngestWorstCaseBesideNormal(benchmark::State& state) {
    CollectorProcess collector;
    if (collector.port <= 0) {
        state.SkipWithError("collector did not start");
        return;
    }
    IngestFigures normal, worst;
    for (auto _ : state) {
        normal = ingest(collector.port, 1000, normalAt);
        worst = ingest(collector.port, 20, worstAt);
    }
    if (!normal.ok || !worst.ok) state.SkipWithError("a request failed");
    state.counters["normal_ms_per_record"] = normal.perRecordMs;
    state.counters["worst_ms_per_record"] = worst.perRecordMs;
    state.counters["worst_over_normal"] = worst.perRecordMs / normal.perRecordMs;
    state.counters["other_max_wait_ms_normal"] = normal.otherMaxWaitMs;
    state.counters["other_max_wait_ms_worst"] = worst.otherMaxWaitMs;
    state.counters["wait_worst_over_normal"] = worst.otherMaxWaitMs / normal.otherMaxWaitMs;
    std::printf("ingest per record: normal %.3f ms, worst case %.3f ms (%.1fx, %.0fx the bytes); longest wait of "
                "another client: %.1f ms beside normal records, %.1f ms beside worst-case ones (%.1fx)\n",
                normal.perRecordMs, worst.perRecordMs, worst.perRecordMs / normal.perRecordMs,
                double(worstAt(0).size()) / normalAt(0).size(), normal.otherMaxWaitMs, worst.otherMaxWaitMs,
                worst.otherMaxWaitMs / normal.otherMaxWaitMs);
}
BENCHMARK(BM_CollectorIngestWorstCaseBesideNormal)->Iterations(1)->Unit(benchmark::kMillisecond);

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
