// A host that starts the crash reporter and then dies in the way its arguments ask for.
//   crash_child BUNDLE_DIR online|offline MODE
// MODE: segv | segv-thread | segv-blocked-main | segv-over-limit | overflow | cxx | cxx-thread |
//       abort | flush
// An atexit handler leaves "$HOME/atexit-ran" if the process ends through exit().
// "flush" does not crash: it waits until the stored crash reports have been sent, exits 0.
// "store-save" does not start the reporter: two threads each save one registration record
// (body {"tag": "child-<n>"}) into the registration list, then it exits 0.
#include "platform/foundation/Bundle.h"
#include "platform/net/Reachability.h"
#include "platform/runtime/RunLoop.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonLogDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

class Fixed : public platform::ReachabilitySource {
public:
    explicit Fixed(std::uint32_t f) : f_(f) {}
    std::optional<std::uint32_t> flags(const platform::ReachabilityTarget&) override { return f_; }
    int watch(std::function<void()>) override { return 1; }
    void unwatch(int) override {}

private:
    std::uint32_t f_;
};

__attribute__((noinline)) void segv() {
    volatile int* volatile p = nullptr;
    *p = 42;
}

__attribute__((noinline)) int recurse(int depth) {
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    return recurse(depth + 1) + pad[0];
}

__attribute__((noinline)) void thrower() { throw std::runtime_error("widget count out of range"); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: crash_child BUNDLE_DIR online|offline MODE\n");
        return 2;
    }
    const std::string mode = argv[3];
    platform::Bundle::main().reloadFrom(argv[1]);
    platform::setReachabilitySource(
        std::make_shared<Fixed>(std::strcmp(argv[2], "online") == 0 ? platform::kReachabilityReachable : 0u));

    if (mode == "store-save") {
        auto save = [](int n) {
            platform::Value record = platform::dict();
            record["ac"] = "register";
            record["body"] = platform::dict();
            record["body"]["tag"] = "child-" + std::to_string(n);
            QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath()).saveReportData(record);
        };
        std::thread first(save, 1), second(save, 2);
        first.join();
        second.join();
        return 0;
    }
    QuillonConfiguration::shareConfiguration().enabledMonitorException = true;
    if (std::getenv("CRASH_CHILD_LOG")) QuillonConfiguration::outputLogEnabled(true);
    QuillonLogDataManager::sharedInstance()->cacheWithString("before the crash");
    QuillonReportDataUnit::shareStance().setQuillonUserInfo(std::string("child-user"));
    QuillonReportDataUnit::shareStance().initReportInterface(std::string("child-key"), std::string("test"));

    auto& loop = platform::RunLoop::main();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!QuillonUncaughtExceptionHandler::isInstalled() && std::chrono::steady_clock::now() < deadline)
        loop.runOnce(0.05);
    if (!QuillonUncaughtExceptionHandler::isInstalled()) return 3;

    if (mode == "flush") {
        auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
        while (store.getCacheRecordCount() > 0 && std::chrono::steady_clock::now() < deadline) loop.runOnce(0.05);
        return store.getCacheRecordCount() == 0 ? 0 : 4;
    }
    std::atexit([] {
        if (const char* home = std::getenv("HOME")) {
            if (FILE* f = std::fopen((std::string(home) + "/atexit-ran").c_str(), "w")) std::fclose(f);
        }
    });
    if (mode == "segv") segv();
    if (mode == "segv-over-limit") {
        // The handlers have taken their ten events: this one is left to the default action.
        QuillonUncaughtExceptionCount = QuillonUncaughtExceptionHandler::kHandlerLimit;
        segv();
    }
    if (mode == "overflow") return recurse(0);
    if (mode == "abort") std::abort();
    if (mode == "cxx") thrower();
    if (mode == "segv-thread" || mode == "cxx-thread") {
        std::thread worker([&] { mode == "segv-thread" ? segv() : thrower(); });
        loop.runFor(-1);  // the report runs here
    }
    if (mode == "segv-blocked-main") {
        // The main thread never runs its loop again: the report is made on the worker.
        std::thread worker(segv);
        worker.join();
    }
    return 5;
}
