// A host application for the crash tests: initialises the library through its public
// interface, waits for the crash handlers and then dies the way argv asks.
//
//   quillon_crash_host BUNDLE_DIR KIND [options]
//
// BUNDLE_DIR holds the Info.plist to use (server hosts, bundle identifier). KIND is one of
//   segv abrt fpe ill bus trap pipe cxx platform stackoverflow bg-loop bg-blocked
//   none     initialise, then run until the stored crash list and exception pool are empty
//            (exit 0), or 3 after 30 s
//   two-threads   two background threads fault, the second while the first one's report runs
//   at-init       a segmentation fault on the main thread right after initialisation, before
//                 the main loop ever runs
//   no-loop       the main thread never runs the main loop; a background thread faults once
//                 the handlers are in place
//   pipe-ignored  SIGPIPE is ignored before initialisation; a write to a closed pipe then
//                 prints "EPIPE" and the program exits 0
//   fork          after the library's threads have run, fork; the child initialises again,
//                 prints "child async: done" when a background request completes there, and
//                 faults on a background thread; the parent exits with the child's status
// options:
//   offline        the network counts as unusable (the crash is stored)
//   count=N        start the crash-event counter at N
//   delegate       a crash delegate that prints "DELEGATE lines=<n>" on standard output
//   group=ID       initialise with that application group
//   stay           after initialising, run the main loop until killed
#include "quillon/Quillon.h"
#include "quillon/quillon.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Exception.h"
#include "platform/net/Reachability.h"
#include "platform/runtime/RunLoop.h"
#include "platform/runtime/DispatchQueue.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonNetworkBuilder.h"
#include "reliclass/QuillonReportDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

class FixedReachability : public platform::ReachabilitySource {
public:
    explicit FixedReachability(std::uint32_t flags) : flags_(flags) {}
    std::optional<std::uint32_t> flags(const platform::ReachabilityTarget&) override { return flags_; }
    int watch(std::function<void()>) override { return 1; }
    void unwatch(int) override {}

private:
    std::uint32_t flags_;
};

class PrintingDelegate : public QuillonDelegate {
public:
    void receivedCrashNotification(const std::string& stackTrace) override {
        std::size_t lines = 0;
        if (!stackTrace.empty()) {
            lines = 1;
            for (char c : stackTrace) lines += c == '\n';
        }
        std::printf("DELEGATE lines=%zu\n", lines);
        std::fflush(stdout);
    }
};

volatile int gZero = 0;
volatile int* gNull = nullptr;

// A real division fault, also in builds with the undefined-behaviour checker.
__attribute__((noinline, no_sanitize("undefined"))) int divide(int a, int b) { return a / b; }

__attribute__((noinline)) int recurse(int depth) {
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    return recurse(depth + 1) + pad[0];
}

__attribute__((noinline)) void crash(const std::string& kind) {
    if (kind == "segv") {
        *gNull = 1;
    } else if (kind == "abrt") {
        std::abort();
    } else if (kind == "fpe") {
        std::printf("%d\n", divide(7, gZero));
    } else if (kind == "ill") {
        __builtin_trap();
    } else if (kind == "bus") {
        // A page mapped beyond the end of an empty file.
        int fd = memfd_create("quillon-bus", 0);
        auto* p = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        p[0] = 1;
    } else if (kind == "trap") {
#if defined(__x86_64__) || defined(__i386__)
        __asm__ volatile("int3");
#else
        raise(SIGTRAP);
#endif
    } else if (kind == "pipe") {
        int fds[2];
        if (pipe(fds) == 0) {
            close(fds[0]);
            char c = 'x';
            (void)!write(fds[1], &c, 1);
        }
    } else if (kind == "cxx") {
        throw std::runtime_error("the host gave up");
    } else if (kind == "platform") {
        platform::Exception("HostInconsistency", "the ledger does not balance").raise();
    } else if (kind == "stackoverflow") {
        std::printf("%d\n", recurse(0));
    }
    std::fprintf(stderr, "crash host: %s did not end the process\n", kind.c_str());
    std::_Exit(4);
}

// Polls `done` (without running the main loop) for up to `seconds`.
bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A registration request through the library's background queue and HTTP thread; true when
// its completion ran within 10 s (the main loop runs meanwhile).
bool backgroundRequestCompletes() {
    auto done = std::make_shared<std::atomic<bool>>(false);
    platform::DispatchQueue::global().async([done] {
        platform::URLRequest request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("register");
        request.body = platform::toJSON(QuillonDeviceInfo::getDeviceInfoForInit(), true);
        QuillonReportDataManager::defaultManager().reportData(
            std::move(request), [done](const std::optional<platform::HTTPResponse>&, const std::optional<std::string>&,
                                       const std::optional<platform::URLError>&) { done->store(true); });
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done->load() && std::chrono::steady_clock::now() < deadline) platform::RunLoop::main().runOnce(0.02);
    return done->load();
}

bool storesEmpty() {
    auto crashes = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    auto pool = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath());
    return crashes.getCacheRecordCount() == 0 && pool.getExceptionDataCount() == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BUNDLE_DIR KIND [offline] [count=N] [delegate] [group=ID] [stay]\n", argv[0]);
        return 2;
    }
    platform::Bundle::main().reloadFrom(argv[1]);
    const std::string kind = argv[2];
    bool offline = false, stay = false;
    std::optional<std::string> group;
    static PrintingDelegate delegate;
    QuillonConfig config = QuillonConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "offline") offline = true;
        else if (a == "stay") stay = true;
        else if (a == "delegate") config.crashDelegate = &delegate;
        else if (a.rfind("count=", 0) == 0) QuillonUncaughtExceptionCount.store(std::atoi(a.c_str() + 6));
        else if (a.rfind("group=", 0) == 0) group = a.substr(6);
    }
    platform::setReachabilitySource(std::make_shared<FixedReachability>(
        offline ? 0u : platform::kReachabilityReachable | platform::kReachabilityIsDirect));
    if (kind == "pipe-ignored") ::signal(SIGPIPE, SIG_IGN);

    if (group)
        Quillon::init("crash-host-key", group, "tests", config);
    else
        Quillon::init("crash-host-key", "tests", config);
    Quillon::setUserInfo("tester@example.org");
    Quillon::leaveBreadcrumbWithString("crash host started");
    Quillon::leaveBreadcrumbWithFormat("about to %s", kind.c_str());

    if (kind == "at-init") crash("segv");
    auto& loop = platform::RunLoop::main();
    if (kind == "no-loop") {
        std::thread worker([] {
            if (waitFor(QuillonUncaughtExceptionHandler::isInstalled, 10)) crash("segv");
            std::fprintf(stderr, "crash host: the handlers were never installed\n");
            std::_Exit(6);
        });
        worker.join();
        return 5;
    }
    if (kind == "fork") {
        while (!QuillonUncaughtExceptionHandler::isInstalled()) loop.runOnce(0.02);
        if (!backgroundRequestCompletes()) return 7;
        std::fflush(stdout);
        pid_t child = ::fork();
        if (child < 0) return 8;
        if (child > 0) {
            int status = 0;
            ::waitpid(child, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
        }
        Quillon::init("crash-host-key", "tests", config);
        Quillon::leaveBreadcrumbWithString("in the forked child");
        std::printf("child async: %s\n", backgroundRequestCompletes() ? "done" : "stuck");
        std::fflush(stdout);
        while (!QuillonUncaughtExceptionHandler::isInstalled()) loop.runOnce(0.02);
        std::thread([] { crash("segv"); }).detach();
        loop.runFor(30);
        return 5;
    }
    if (stay) {
        std::printf("READY\n");
        std::fflush(stdout);
        loop.runFor(-1);
        return 0;
    }
    if (kind == "none") {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            loop.runOnce(0.02);
            if (storesEmpty()) return 0;
        }
        return 3;
    }
    // The handlers are installed 0.2 s after initialisation from the main run loop; a task
    // due at the same moment, queued later, runs after them.
    loop.performAfter(0.2, [kind] {
        if (kind == "bg-loop") {
            std::thread([] { crash("segv"); }).detach();
            return;  // the main thread goes back to its loop
        }
        if (kind == "two-threads") {
            std::thread([] { crash("segv"); }).detach();
            // The second fault comes while the first one's report is under way.
            std::thread([] {
                if (waitFor([] { return QuillonReportDataUnit::shareStance().isCrashReported(); }, 10)) crash("abrt");
            }).detach();
            return;
        }
        if (kind == "pipe-ignored") {
            int fds[2];
            if (pipe(fds) != 0) std::_Exit(9);
            close(fds[0]);
            char c = 'x';
            if (write(fds[1], &c, 1) < 0 && errno == EPIPE) {
                std::printf("EPIPE\n");
                std::fflush(stdout);
                std::_Exit(0);
            }
            std::_Exit(10);
        }
        if (kind == "bg-blocked") {
            std::thread t([] { crash("segv"); });
            t.join();  // blocks the main thread for good
            return;
        }
        crash(kind);
    });
    loop.runFor(30);
    std::fprintf(stderr, "crash host: nothing ended the process\n");
    return 5;
}
