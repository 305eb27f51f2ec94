// Speed of the pieces the crash path calls: recording a breadcrumb on a full trail, the
// device and carrier records, and the diagnostics snapshot with 20 threads in the process.
// Goals: a breadcrumb at most 100 ns (median, one thread); getDiagnosticInfo at most 500 us
// with 20 threads; getDeviceInfo at most 200 us after its first call.
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonDiagnosticManager.h"
#include "reliclass/QuillonLogDataManager.h"
#include "support/TestEnv.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

QuillonLogDataManager* fullTrail() {
    static QuillonLogDataManager* store = [] {
        QuillonLogDataManager* s = QuillonLogDataManager::sharedInstance();
        for (int i = 0; i < 200; ++i) s->cacheWithString("warm-up breadcrumb " + std::to_string(i));
        return s;
    }();
    return store;
}

void BM_cacheWithString_FullTrail(benchmark::State& state) {
    QuillonLogDataManager* store = fullTrail();
    const std::string text = "user opened the settings screen";
    for (auto _ : state) benchmark::DoNotOptimize(store->cacheWithString(text));
}
BENCHMARK(BM_cacheWithString_FullTrail);
BENCHMARK(BM_cacheWithString_FullTrail)->Threads(2);

// Nineteen blocked threads besides the benchmark's own.
class IdleThreads {
public:
    explicit IdleThreads(int n) {
        for (int i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait(lock, [this] { return stop_; });
            });
    }
    ~IdleThreads() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_) t.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

void BM_getDiagnosticInfo_20Threads(benchmark::State& state) {
    IdleThreads others(19);
    for (auto _ : state) benchmark::DoNotOptimize(QuillonDiagnosticManager::defaultManager().getDiagnosticInfo());
}
BENCHMARK(BM_getDiagnosticInfo_20Threads)->Unit(benchmark::kMicrosecond);

void BM_getDeviceInfo(benchmark::State& state) {
    QuillonDeviceInfo::getDeviceInfo();  // the first call stores the identifier
    for (auto _ : state) benchmark::DoNotOptimize(QuillonDeviceInfo::getDeviceInfo());
}
BENCHMARK(BM_getDeviceInfo)->Unit(benchmark::kMicrosecond);

void BM_getCarrierInfo(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(QuillonDeviceInfo::getCarrierInfo());
}
BENCHMARK(BM_getCarrierInfo)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    testenv::useFreshHome();  // the keychain item and sandbox are the benchmark's own
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
