// In-process figures of the public API, each beside a baseline:
//  - leaveBreadcrumbWithString on a full trail (goal <= 100 ns median), beside recording
//    straight into the breadcrumb store;
//  - reportCustomizedException(type, message, stackTrace) cycling over 20 distinct
//    identifiers already pooled (goal <= 1 ms median), beside saving the same pool entry
//    straight into the exception store.
#include "BenchTiming.h"
#include "quillon/Quillon.h"

#include "platform/foundation/Bundle.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonLogDataManager.h"
#include "support/HostProcess.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using benchtiming::nowNs;

using benchtiming::median;

// Median time of one call, measured over batches of `batch` calls.
template <class F>
std::vector<double> samplesNs(F&& call, int batches, int batch) {
    std::vector<double> per;
    per.reserve(static_cast<size_t>(batches));
    for (int b = 0; b < batches; ++b) {
        const std::int64_t start = nowNs();
        for (int i = 0; i < batch; ++i) call(b * batch + i);
        per.push_back(static_cast<double>(nowNs() - start) / batch);
    }
    return per;
}

template <class F>
double medianNs(F&& call, int batches, int batch) {
    return median(samplesNs(call, batches, batch));
}

// The value below which `share` of the samples lie.
double percentile(std::vector<double> v, double share) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(share * static_cast<double>(v.size())))];
}

const Quillon::String kCrumb = std::string("tapped 'checkout' on the basket screen");

std::vector<std::string> traces() {
    std::vector<std::string> t;
    for (int i = 0; i < 20; ++i)
        t.push_back("stack traceback:\n\t[C]: in function 'error'\n\tbasket.lua:" + std::to_string(100 + i) +
                    ": in function 'checkout'\n\tmain.lua:12: in main chunk");
    return t;
}

void BM_LeaveBreadcrumbFullTrail(benchmark::State& state) {
    for (auto _ : state) Quillon::leaveBreadcrumbWithString(kCrumb);
}
BENCHMARK(BM_LeaveBreadcrumbFullTrail);

void BM_StoreCacheWithStringFullTrail(benchmark::State& state) {
    auto* store = QuillonLogDataManager::activeInstance();
    for (auto _ : state) benchmark::DoNotOptimize(store->cacheWithString(*kCrumb));
}
BENCHMARK(BM_StoreCacheWithStringFullTrail);

void BM_ReportRuntimeException20Pooled(benchmark::State& state) {
    static const std::vector<std::string> t = traces();
    int i = 0;
    for (auto _ : state) Quillon::reportCustomizedException(3, "attempt to index a nil value", t[i++ % 20]);
}
BENCHMARK(BM_ReportRuntimeException20Pooled)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/quillon-api-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string work = tmpl;
    setenv("HOME", work.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    // Servers on a closed port: what the reporter sends in the background fails at once.
    testenv::writeInfoPlist(work, "org.example.api-bench", "127.0.0.1:1");
    platform::Bundle::main().reloadFrom(work);

    QuillonConfig config = QuillonConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    Quillon::init("bench-key", "bench", config);
    auto* store = QuillonLogDataManager::activeInstance();
    if (!store) return 1;
    for (int i = 0; i < 120; ++i) Quillon::leaveBreadcrumbWithString("filling the trail");

    const double crumb = medianNs([](int) { Quillon::leaveBreadcrumbWithString(kCrumb); }, 2000, 100);
    const double crumbBase = medianNs([store](int) { store->cacheWithString(*kCrumb); }, 2000, 100);
    std::printf("leaveBreadcrumbWithString, full trail (median): %.1f ns (goal <= 100 ns)\n", crumb);
    std::printf("  baseline: cacheWithString on the store (median): %.1f ns; ratio %.2f\n\n", crumbBase,
                crumbBase > 0 ? crumb / crumbBase : 0);

    const std::vector<std::string> t = traces();
    for (int i = 0; i < 20; ++i) Quillon::reportCustomizedException(3, "attempt to index a nil value", t[i]);
    const std::vector<double> reports = samplesNs(
        [&t](int i) { Quillon::reportCustomizedException(3, "attempt to index a nil value", t[i % 20]); }, 400, 1);
    const double report = median(reports);
    // Baseline: the store's own save of a pool entry of the same size.
    auto pool = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath());
    platform::Value entries = pool.getExceptionDatas();
    platform::Value entry = entries.is_array() && !entries.empty() ? entries[0] : platform::dict();
    auto baselinePool = QuillonDataFileManager::fileManagerWith(work + "/baseline-pool");
    for (int i = 0; i < 20; ++i) baselinePool.saveException(entry, "id" + std::to_string(i), 1000000);
    const double reportBase = medianNs(
        [&](int i) { baselinePool.saveException(entry, "id" + std::to_string(i % 20), 1000000); }, 200, 1);
    std::printf("reportCustomizedException(type, message, stackTrace), 20 identifiers pooled, server unreachable:\n"
                "  median %.3f ms (goal <= 0.7 ms); 99th percentile %.3f ms, slowest %.3f ms of %zu (goal: never "
                "more than 1 ms)\n",
                report / 1e6, percentile(reports, 0.99) / 1e6, percentile(reports, 1.0) / 1e6, reports.size());
    struct stat poolFile {};
    ::stat(QuillonDataFileManager::exceptionDataPath().c_str(), &poolFile);
    std::printf("  the pool's file: %lld KB\n", static_cast<long long>(poolFile.st_size / 1024));
    std::printf("  baseline: saveException of the same entry on a 20-entry pool (median): %.3f ms; ratio %.2f\n\n",
                reportBase / 1e6, reportBase > 0 ? report / reportBase : 0);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(work);
    std::_Exit(0);  // background requests of the reporter are not waited for
}
