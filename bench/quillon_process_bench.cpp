// Whole-process figures of the public API, each beside a baseline run in the same way:
//  - main-thread cost of quillonInit with a warm configuration file, median over 50 fresh
//    processes (goal <= 0.3 ms), beside the start of an empty process;
//  - crash-to-exit time, from the faulting instruction to the parent seeing status 246,
//    median over 30 runs: storing the report durably into an empty crash list (goal <= 2 ms)
//    and into a full one (20 records of about 8 KB, goal <= 3 ms), and sending it to a
//    collector on loopback (goal <= 4 ms), beside a process killed by the same signal without
//    handlers, and beside one that also has libcurl loaded and idle threads (how much of the
//    figure is the kernel tearing such a process down).
//
// The benchmark re-runs its own executable as the child process (--child ...).
#include "BenchProcess.h"
#include "BenchRecords.h"
#include "BenchTiming.h"
#include "quillon/Quillon.h"
#include "quillon/quillon.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLSession.h"
#include "platform/runtime/RunLoop.h"
#include "reliclass/QuillonDataFileManager.h"
#include "support/FixedReachability.h"
#include "support/HostProcess.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using benchtiming::crashPayload;
using benchtiming::median;
using benchtiming::nowNs;
using benchtiming::Run;
using benchtiming::spawnAndWait;

volatile int* gNull = nullptr;

// ---------------------------------------------------------------- child side
int childInit(const char* bundle) {
    const std::int64_t start = nowNs();
    platform::Bundle::main().reloadFrom(bundle);  // what the first use of the bundle costs a host
    quillonInit("bench-key", "bench");
    const std::int64_t end = nowNs();
    std::printf("%lld\n", static_cast<long long>(end - start));
    std::fflush(stdout);
    std::_Exit(0);  // background work of the launch is not waited for
}

int childCrash(const char* bundle, bool online, bool handlers, bool loaded = false) {
    platform::Bundle::main().reloadFrom(bundle);
    if (loaded) {
        // What a process with the HTTP library loaded and a few idle threads costs to end.
        platform::URLSession::loadTransport();
        for (int i = 0; i < 5; ++i) std::thread([] { ::pause(); }).detach();
    }
    platform::setReachabilitySource(std::make_shared<testenv::FixedReachability>(
        online ? platform::kReachabilityReachable | platform::kReachabilityIsDirect : 0u));
    if (handlers) {
        QuillonConfig config = QuillonConfig::defaultConfig();
        config.reportOnlyWIFI = false;
        Quillon::init("bench-key", "bench", config);
    }
    platform::RunLoop::main().performAfter(0.3, [] {
        std::printf("%lld\n", static_cast<long long>(nowNs()));
        std::fflush(stdout);
        *gNull = 1;
    });
    platform::RunLoop::main().runFor(30);
    return 5;
}

// ---------------------------------------------------------------- parent side

struct Collector {
    std::unique_ptr<testenv::HostProcess> process;
    std::string host;
};

Collector startCollector(const std::string& dir) {
    Collector c;
    c.process = std::make_unique<testenv::HostProcess>(
        std::vector<std::string>{QUILLON_COLLECTOR_PATH, "--port", "0", "--db", dir + "/collector.db"}, dir);
    if (!c.process->waitForOutput("listening on ", 10)) return c;
    std::string out = c.process->output();
    auto at = out.find("listening on ") + std::strlen("listening on ");
    c.host = out.substr(at, out.find('\n', at) - at);
    return c;
}

std::string self;
std::string work;

// Fresh home per scenario: sandbox, keychain and stores of their own.
std::string freshHome(const std::string& name) {
    std::string home = work + "/" + name;
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    return home;
}

void initFigures(const std::string& collectorHost) {
    const std::string bundle = work + "/bundle-init";
    std::filesystem::create_directories(bundle);
    testenv::writeInfoPlist(bundle, "org.example.bench-init", collectorHost);
    freshHome("home-init");
    const std::string out = work + "/init.out";
    // A first launch writes the configuration file (and keychain item), so every measured
    // launch starts warm and does not request the configuration again.
    spawnAndWait({self, "--child", "init", bundle}, out);
    std::vector<double> initMs, initProcessMs, emptyProcessMs;
    for (int i = 0; i < 50; ++i) {
        Run e = spawnAndWait({self, "--child", "empty"}, out);
        emptyProcessMs.push_back((e.reaped - e.spawned) / 1e6);
        Run r = spawnAndWait({self, "--child", "init", bundle}, out);
        initMs.push_back(std::atof(r.out.c_str()) / 1e6);
        initProcessMs.push_back((r.reaped - r.spawned) / 1e6);
    }
    const double init = median(initMs), empty = median(emptyProcessMs);
    std::printf("quillonInit, warm configuration, main thread (median of 50 processes): %.3f ms (goal <= 0.3 ms)\n", init);
    std::printf("  baseline: empty process start to exit (median of 50):                 %.3f ms\n", empty);
    std::printf("  process with quillonInit, start to exit (median of 50):               %.3f ms\n",
                median(initProcessMs));
    std::printf("  ratio init cost / empty process: %.2f\n\n", empty > 0 ? init / empty : 0);
}


// The bytes of a crash list holding 20 such records.
std::string fullCrashList() {
    const std::string dir = work + "/full-list";
    std::filesystem::create_directories(dir);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    for (int i = 0; i < 20; ++i) store.saveReportData(crashPayload(i));
    unsetenv("XDG_DATA_HOME");
    return platform::fs::readFile(store.filePath()).value_or("");
}

double crashFigure(const char* label, const std::string& collectorHost, bool online, const char* handlers,
                   int expectStatus, const std::string& listBytes = std::string()) {
    const std::string bundle = work + std::string("/bundle-") + label;
    std::filesystem::create_directories(bundle);
    testenv::writeInfoPlist(bundle, std::string("org.example.bench-") + label, collectorHost);
    const std::string home = freshHome(std::string("home-") + label);
    const std::string crashList =
        home + "/.local/share/org.example.bench-" + label + "/Documents/Quillon/CrashData";
    const std::string out = work + "/crash.out";
    std::vector<double> ms;
    int wrong = 0;
    for (int i = 0; i < 30; ++i) {
        // Every run stores into the same list: empty, as a first crash does, or the given one.
        std::filesystem::remove(crashList);
        if (!listBytes.empty()) {
            std::filesystem::create_directories(std::filesystem::path(crashList).parent_path());
            platform::fs::writeAtomically(crashList, listBytes, 0600, false);
        }
        Run r = spawnAndWait({self, "--child", "crash", bundle, online ? "online" : "offline", handlers}, out);
        const bool ok = expectStatus > 0 ? (WIFEXITED(r.status) && WEXITSTATUS(r.status) == expectStatus)
                                         : (WIFSIGNALED(r.status) && WTERMSIG(r.status) == -expectStatus);
        if (!ok || r.out.empty()) {
            ++wrong;
            continue;
        }
        ms.push_back((r.reaped - std::atoll(r.out.c_str())) / 1e6);
    }
    const double m = median(ms);
    std::printf("%-62s %.3f ms (median of %zu)%s\n", label, m, ms.size(),
                wrong ? (" [" + std::to_string(wrong) + " runs ended otherwise]").c_str() : "");
    return m;
}

// Google Benchmark entry for the registry: one fresh process running quillonInit.
void BM_ProcessWithQuillonInit(benchmark::State& state) {
    const std::string bundle = work + "/bundle-init";
    for (auto _ : state) {
        Run r = spawnAndWait({self, "--child", "init", bundle}, work + "/bm.out");
        state.SetIterationTime((r.reaped - r.spawned) / 1e9);
    }
}
BENCHMARK(BM_ProcessWithQuillonInit)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        if (std::strcmp(argv[2], "empty") == 0) return 0;
        if (std::strcmp(argv[2], "init") == 0 && argc >= 4) return childInit(argv[3]);
        if (std::strcmp(argv[2], "crash") == 0 && argc >= 6)
            return childCrash(argv[3], std::strcmp(argv[4], "online") == 0, std::strcmp(argv[5], "1") == 0,
                              std::strcmp(argv[5], "loaded") == 0);
        return 2;
    }
    // No core files: the baseline process dies of its signal like any crash without handlers.
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    self = testenv::executableDirectory() + "/quillon_process_bench";
    char tmpl[] = "/tmp/quillon-process-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    work = tmpl;
    Collector collector = startCollector(work);
    if (collector.host.empty()) {
        std::fprintf(stderr, "the collector did not start\n");
        return 1;
    }

    initFigures(collector.host);

    std::printf("crash to exit, from the faulting instruction to the parent's waitpid (30 runs each):\n");
    const double baseline = crashFigure("baseline: SIGSEGV without handlers (default action)", collector.host, false,
                                        "0", -SIGSEGV);
    crashFigure("baseline: the same with libcurl loaded and 5 idle threads", collector.host, false, "loaded", -SIGSEGV);
    const double stored =
        crashFigure("offline: stored in an empty list, exit 246 (goal <= 2 ms)", collector.host, false, "1", 246);
    const double full = crashFigure("offline: stored in a list of 20 x 8 KB, exit 246 (goal <= 3 ms)", collector.host,
                                    false, "1", 246, fullCrashList());
    const double sent = crashFigure("online: report sent to the loopback collector, exit 246 (goal <= 4 ms)",
                                    collector.host, true, "1", 246);
    if (baseline > 0)
        std::printf("  ratios against the baseline: stored %.1f, stored in a full list %.1f, sent %.1f\n\n",
                    stored / baseline, full / baseline, sent / baseline);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    collector.process.reset();
    std::filesystem::remove_all(work);
    return 0;
}
