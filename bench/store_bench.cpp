// Crash store operations on a full crash queue (20 records of about 8 KB), and a flush of
// those 20 records to the loopback collector. The baseline beside them is the physical floor
// of every store change: one atomic replace (temporary file, fsync, rename) of a file of the
// same size.
#include "BenchRecords.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/net/Reachability.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonReportDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "support/Collector.h"
#include "support/FixedReachability.h"
#include "support/TestEnv.h"

#include <benchmark/benchmark.h>

#include <future>

using benchtiming::crashPayload;
using platform::Value;

namespace {


void fillQueue(const QuillonDataFileManager& store) {
    store.delReportSuccessData();
    for (int i = 0; i < 20; ++i) store.saveReportData(crashPayload(i));
}

QuillonDataFileManager crashStore() {
    static bool home = (testenv::useFreshHome(), true);
    (void)home;
    return QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
}

void BM_Baseline_AtomicReplaceSameSize(benchmark::State& state) {
    auto store = crashStore();
    fillQueue(store);
    const std::string bytes = *platform::fs::readFile(store.filePath());
    const std::string path = store.filePath() + ".baseline";
    for (auto _ : state) benchmark::DoNotOptimize(platform::fs::writeAtomically(path, bytes));
    state.counters["file_KB"] = static_cast<double>(bytes.size()) / 1024.0;
}

void BM_SaveReportData_FullQueue(benchmark::State& state) {
    auto store = crashStore();
    fillQueue(store);
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(store.saveReportData(crashPayload(i++)));
}

void BM_GetReportData_FullQueue(benchmark::State& state) {
    auto store = crashStore();
    fillQueue(store);
    for (auto _ : state) benchmark::DoNotOptimize(store.getReportData());
}

void BM_UpdateFailedCount_FullQueue(benchmark::State& state) {
    auto store = crashStore();
    for (auto _ : state) {
        state.PauseTiming();
        if (store.getCacheRecordCount() < 20) fillQueue(store);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.updateFailedCount());
    }
}

void BM_Flush20RecordsToLoopbackCollector(benchmark::State& state) {
    auto store = crashStore();
    testenv::Collector collector;
    const std::string dir = testenv::makeTempDir("bench-bundle");
    Value info = platform::dict();
    info["CFBundleIdentifier"] = "org.example.bench";
    info["QuillonCrashHost"] = collector.host();
    platform::fs::writeAtomically(dir + "/Info.plist", *platform::toXMLPropertyList(info));
    platform::Bundle::main().reloadFrom(dir);
    QuillonReportDataUnit::shareStance().appKey = "bench";
    // Loopback needs no route to the outside: count the network as Wi-Fi for the flush.
    testenv::useFixedReachability(platform::kReachabilityReachable);
    store = crashStore();
    for (auto _ : state) {
        state.PauseTiming();
        fillQueue(store);
        state.ResumeTiming();
        std::promise<void> done;
        QuillonReportDataManager::defaultManager().reportCacheData(store.filePath(), [&] { done.set_value(); });
        done.get_future().wait();
    }
    if (store.getCacheRecordCount() != 0) {
        std::fprintf(stderr, "collector refused: %s\n", platform::toJSON(collector.rejects(), true).c_str());
        state.SkipWithError("flush did not clear the queue");
    }
}

}  // namespace

BENCHMARK(BM_Baseline_AtomicReplaceSameSize)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_SaveReportData_FullQueue)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_GetReportData_FullQueue)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_UpdateFailedCount_FullQueue)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Flush20RecordsToLoopbackCollector)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK_MAIN();
