// An application shipped stripped (its debug information split off into a separate file) that
// starts the crash reporter and dies of SIGSEGV in crashHere(). Built twice with different
// code: CRASH_APP_VERSION 1 and 2.
//   symbols_crash_app BUNDLE_DIR
#include "platform/foundation/Bundle.h"
#include "platform/net/Reachability.h"
#include "platform/runtime/RunLoop.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"
#include "support/FixedReachability.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

volatile int* volatile target = nullptr;

#if CRASH_APP_VERSION == 2
// Version 2 has more code in front, so its crash sits at other addresses and another line.
__attribute__((noinline)) int checksum(const char* s) {
    int sum = 0;
    while (*s) sum = sum * 31 + *s++;
    return sum;
}
#endif

__attribute__((noipa)) void crashHere(int value) {
#if CRASH_APP_VERSION == 2
    value += checksum("version two");
    *target = value;  // CRASH-V2
#else
    *target = value;  // CRASH-V1
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: symbols_crash_app BUNDLE_DIR\n");
        return 2;
    }
    platform::Bundle::main().reloadFrom(argv[1]);
    platform::setReachabilitySource(std::make_shared<testenv::FixedReachability>(platform::kReachabilityReachable));
    QuillonConfiguration::shareConfiguration().enabledMonitorException = true;
    QuillonReportDataUnit::shareStance().initReportInterface(std::string("symbols-key"), std::string("test"));
    auto& loop = platform::RunLoop::main();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!QuillonUncaughtExceptionHandler::isInstalled() && std::chrono::steady_clock::now() < deadline)
        loop.runOnce(0.05);
    if (!QuillonUncaughtExceptionHandler::isInstalled()) return 3;
    crashHere(argc);
    return 5;
}
