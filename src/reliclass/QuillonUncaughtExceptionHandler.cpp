// The crash handlers. A fatal signal is reported from inside its signal handler: the report
// (exception object, backtrace, record assembly, JSON, the store's atomic write and a bounded
// HTTP send) is built right there, on the faulting thread or handed to the main thread. That
// is deliberately not async-signal-safe: it allocates, takes locks and does I/O, trading the
// small risk of a dead-lock in a dying process for a complete report without a helper
// process. What bounds it is a watchdog: the first crash event takes over SIGALRM (replacing
// any handler and pending alarm of the host) and arms alarm() for the whole crash budget
// (hand-off, send time-out, assembly); when it fires, the process ends with status 246,
// the record having been stored before it is sent. At most kHandlerLimit events are taken;
// beyond that a signal gets its default action. Each function below says whether it may run
// inside a signal handler.
#include "reliclass/QuillonUncaughtExceptionHandler.h"

#include "platform/foundation/Logger.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/RunLoop.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonCustomizedException.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonThrowSite.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <typeinfo>

std::atomic<std::int32_t> QuillonUncaughtExceptionCount{0};

namespace {

constexpr int kSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE, SIGTRAP};
// The main thread runs the report inline when it is the one that faults, so its alternate
// stack must hold a whole report (record assembly, JSON, a synchronous HTTP send).
constexpr std::size_t kMainAltStackSize = 1024 * 1024;
// Alternate stacks smaller than this are too small to assemble a report on.
constexpr std::size_t kReportStackSize = 512 * 1024;

std::atomic<bool> gInstalled{false};
// Wakes the grace-period wait of installUnlessMainLoopDoes() once the handlers are installed.
// Never destroyed: the wait may still be under way while the process exits.
struct InstalledSignal {
    std::mutex m;
    std::condition_variable changed;
};

InstalledSignal& installedSignal() {
    static InstalledSignal* signal = new InstalledSignal;
    return *signal;
}
std::atomic<QuillonUncaughtExceptionHandler::ReportHook> gReportHook{nullptr};

// May be called from a signal handler.
bool onSmallAlternateStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0) return false;
    return (current.ss_flags & SS_ONSTACK) && current.ss_size < kReportStackSize;
}

// Never called from a signal handler.
void ensureLargeAlternateStack() {
    platform::ensureAlternateSignalStack();
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kMainAltStackSize)
        return;
    // Never unmapped: a signal may be running on it at any time afterwards.
    void* mem = ::mmap(nullptr, kMainAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                       -1, 0);
    if (mem == MAP_FAILED) return;
    stack_t stack{};
    stack.ss_sp = mem;
    stack.ss_size = kMainAltStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) ::munmap(mem, kMainAltStackSize);
}

// May be called from a signal handler.
std::int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// End of the running crash's budget (monotonic ns); 0 while no crash is being handled.
std::atomic<std::int64_t> gCrashDeadlineNs{0};

// The record is stored before it is sent, so when the budget is spent the process ends the
// way a reported crash ends.
// May be called from a signal handler.
void watchdogExpired(int) { ::_exit(246); }

// Last resort against a report that never finishes (a lock held by the faulting code, a
// main thread that took the report and then stalled). The first event of a crash sets the
// budget; later events share it rather than extend it. Returns whether this call set it.
// May be called from a signal handler.
bool startCrashBudget() {
    const double budget = QuillonUncaughtExceptionHandler::crashBudgetSeconds();
    std::int64_t expected = 0;
    if (!gCrashDeadlineNs.compare_exchange_strong(expected, monotonicNs() + static_cast<std::int64_t>(budget * 1e9)))
        return false;
    struct sigaction action{};
    action.sa_handler = watchdogExpired;
    sigemptyset(&action.sa_mask);
    // Without our handler the alarm still ends the process (SIGALRM's default action), only
    // not with the reported-crash status.
    if (::sigaction(SIGALRM, &action, nullptr) != 0)
        QuillonConfiguration::logWithLevel(1, "the crash watchdog's SIGALRM handler could not be installed: %s",
                                           std::strerror(errno));
    const unsigned pending = ::alarm(static_cast<unsigned>(std::ceil(budget)));
    if (pending != 0)
        QuillonConfiguration::logWithLevel(4, "the application's alarm (%u s left) was replaced by the crash watchdog",
                                           pending);
    return true;
}

// The report path returned without ending the process: the budget is no longer running.
// May be called from a signal handler.
void endCrashBudget(bool owner) {
    if (!owner) return;
    (void)::alarm(0);  // returns the seconds that were left, nothing to check
    gCrashDeadlineNs.store(0);
}

// May be called from a signal handler.
void deliver(const platform::Exception& exception) {
    if (auto hook = gReportHook.load()) {
        hook(exception);
    } else {
        QuillonReportDataUnit::shareStance().reportException(exception);
    }
}

// Hands the exception to the main thread and waits for it. When the main thread does not
// take it in time (blocked, dead-locked, or not running its loop), the report is assembled
// here instead, on a thread with a full-size stack when this one runs on a small signal stack.
// May be called from a signal handler.
void handOff(const platform::Exception& exception) {
    std::function<void()> task = [&exception] { deliver(exception); };
    if (platform::RunLoop::main().performAndWait(task, QuillonUncaughtExceptionHandler::kMainThreadHandOffSeconds))
        return;
    if (onSmallAlternateStack()) {
        try {
            std::thread helper([&task] {
                platform::ensureAlternateSignalStack();
                task();
            });
            helper.join();
            return;
        } catch (const std::system_error&) {
            // No thread could be made: fall through and try here.
        }
    }
    task();
}

// May be called from a signal handler.
void reportInternal(const std::exception& e) {
    QuillonReportDataUnit::shareStance().reportSDKException(e, "SDK crash report");
}

// The installed signal handler: always runs inside one.
void signalTrampoline(int signal, siginfo_t*, void*) {
    int savedErrno = errno;
    QuillonSignalHandler(signal);
    // The report path returned without ending the process (an internal error, or more
    // events than the handlers take). Let the signal do what it would have done without us.
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    // Raising it again under our own handler would come straight back here.
    if (::sigaction(signal, &dfl, nullptr) != 0) ::_exit(128 + signal);
    ::raise(signal);
    errno = savedErrno;
}

// Never called from a signal handler: runs from std::terminate.
void terminateHandler() {
    std::unique_ptr<platform::Exception> exception;
    try {
        exception = QuillonUncaughtExceptionHandler::currentExceptionObject();
    } catch (...) {
    }
    if (exception) QuillonHandleException(*exception);
    // No exception (std::terminate called directly), or the report path returned: end the
    // process the way the runtime does without a handler.
    ::signal(SIGABRT, SIG_DFL);
    std::abort();
}

// Where the recorded throw site continues in the live stack `frames`, or nothing when the
// stack was unwound since.
// Never called from a signal handler.
std::optional<int> throwSiteInStack(const std::vector<void*>& recorded, void* const* frames, int n) {
    if (recorded.size() < 2) return std::nullopt;
    for (int i = 0; i < n; ++i)
        if (frames[i] == recorded[1]) return i;
    return std::nullopt;
}

// The first frame of `frames` past the terminate machinery (this handler, std::terminate and
// the runtime's calls into it), or 0 when none is recognised.
// Never called from a signal handler.
int outsideTerminate(void* const* frames, int n) {
    int past = 0;
    for (int i = 0; i < n; ++i) {
        Dl_info info{};
        if (::dladdr(frames[i], &info) > 0 && info.dli_sname && std::strstr(info.dli_sname, "terminate")) past = i + 1;
    }
    return past;
}

// Never called from a signal handler.
bool sigpipeIgnoredByHost() {
    struct sigaction current{};
    if (::sigaction(SIGPIPE, nullptr, &current) != 0) return false;
    return !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
}

// Never called from a signal handler.
std::string demangle(const char* mangled) {
    if (!mangled) return std::string();
    int status = 0;
    char* text = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    if (status != 0 || !text) return mangled;
    std::string out(text);
    std::free(text);
    return out;
}

}  // namespace

namespace {

// Replaces whatever handlers are in place with ours. Never called from a signal handler.
void installHandlers() {
    // Normally done at initialisation already; the main thread's signal stack must hold a
    // report, so that a stack overflow is reported too.
    if (platform::RunLoop::isMainThread()) ensureLargeAlternateStack();
    // The first backtrace() loads the unwinder; do it now rather than in a crashing process.
    void* warm[4];
    (void)::backtrace(warm, 4);
    quillon::throwsite::setEnabled(true);

    std::set_terminate(terminateHandler);
    for (int signal : kSignals) {
        if (signal == SIGPIPE && sigpipeIgnoredByHost()) {
            // A network program that ignores SIGPIPE expects EPIPE from a write to a closed
            // connection, not the end of the process.
            QuillonConfiguration::logWithLevel(4, "SIGPIPE is ignored by the application: it stays ignored");
            continue;
        }
        struct sigaction action{};
        action.sa_sigaction = signalTrampoline;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        if (::sigaction(signal, &action, nullptr) != 0)
            QuillonConfiguration::logWithLevel(1, "the handler of signal %d could not be installed: %s", signal,
                                               std::strerror(errno));
    }
}

}  // namespace

// Never called from a signal handler.
void InstallQuillonUncaughtExceptionHandler() {
    installHandlers();
    {
        std::lock_guard lock(installedSignal().m);
        gInstalled.store(true);
    }
    installedSignal().changed.notify_all();
}

// Never called from a signal handler: runs from the terminate handler.
void QuillonHandleException(const platform::Exception& exception) {
    if (QuillonUncaughtExceptionCount.fetch_add(1) + 1 > QuillonUncaughtExceptionHandler::kHandlerLimit) return;
    const bool owner = startCrashBudget();
    try {
        handOff(exception);
    } catch (const std::exception& e) {
        reportInternal(e);
    } catch (...) {
    }
    endCrashBudget(owner);
}

// May be called from a signal handler.
void QuillonSignalHandler(int signal) {
    if (QuillonUncaughtExceptionCount.fetch_add(1) + 1 > QuillonUncaughtExceptionHandler::kHandlerLimit) return;
    const bool owner = startCrashBudget();
    try {
        platform::Value userInfo = platform::dict();
        userInfo["exception Signal"] = signal;
        std::vector<std::string> lines = QuillonUncaughtExceptionHandler::exceptionBacktrace();
        std::string reason = QuillonUncaughtExceptionHandler::signalReason(signal);
        std::string trace;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i) trace += '\n';
            trace += lines[i];
        }
        userInfo["stack trace"] = trace;
        QuillonCustomizedException exception =
            QuillonCustomizedException::exceptionWithName("exception Signal", reason, userInfo);
        handOff(exception);
    } catch (const std::exception& e) {
        reportInternal(e);
    } catch (...) {
    }
    endCrashBudget(owner);
}

// May be called from a signal handler.
std::string QuillonUncaughtExceptionHandler::signalName(int signal) {
    switch (signal) {
        case SIGILL: return "SIGILL";
        case SIGTRAP: return "SIGTRAP";
        case SIGABRT: return "SIGABRT";
        case SIGFPE: return "SIGFPE";
        case SIGBUS: return "SIGBUS";
        case SIGSEGV: return "SIGSEGV";
        case SIGPIPE: return "SIGPIPE";
        default: return std::string();
    }
}

// May be called from a signal handler.
std::string QuillonUncaughtExceptionHandler::signalReason(int signal) {
    return "Application received signal " + signalName(signal);
}

// May be called from a signal handler.
void QuillonUncaughtExceptionHandler::crashMethodWithException(const platform::Exception&) {
    std::set_terminate(std::abort);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(246);
}

// Never called from a signal handler.
std::unique_ptr<platform::Exception> QuillonUncaughtExceptionHandler::currentExceptionObject() {
    std::exception_ptr current = std::current_exception();
    if (!current) return nullptr;

    // The thrown object, to find the throw site recorded for it on this thread.
    static_assert(sizeof(std::exception_ptr) == sizeof(void*));
    void* object = nullptr;
    std::memcpy(&object, static_cast<void*>(&current), sizeof object);
    std::vector<void*> addresses = throwSiteAddresses(object);
    void* frames[kMaxFrames];
    const int n = std::max(::backtrace(frames, kMaxFrames), 0);
    if (addresses.empty()) {
        addresses.assign(frames, frames + n);
    } else if (auto from = throwSiteInStack(addresses, frames, n)) {
        // Nothing was unwound: the live stack holds the whole path to the throw.
        addresses.resize(1);
        addresses.insert(addresses.end(), frames + *from, frames + n);
    } else {
        // A noexcept boundary unwound the frames between it and the throw: the throw site,
        // then the boundary's stack.
        addresses.insert(addresses.end(), frames + outsideTerminate(frames, n), frames + n);
    }

    std::unique_ptr<platform::Exception> out;
    const std::string typeName = demangle(abi::__cxa_current_exception_type()
                                              ? abi::__cxa_current_exception_type()->name()
                                              : nullptr);
    try {
        std::rethrow_exception(current);
    } catch (const QuillonCustomizedException& e) {
        out = std::make_unique<QuillonCustomizedException>(e);
    } catch (const platform::Exception& e) {
        out = std::make_unique<platform::Exception>(e);
    } catch (const std::exception& e) {
        out = std::make_unique<platform::Exception>(typeName, e.what());
    } catch (...) {
        out = std::make_unique<platform::Exception>(typeName, std::string());
    }
    if (out->callStackReturnAddresses().empty()) out->setCallStackReturnAddresses(std::move(addresses));
    return out;
}

// Never called from a signal handler.
std::vector<void*> QuillonUncaughtExceptionHandler::throwSiteAddresses(const void* thrownObject) {
    const auto& record = quillon::throwsite::current();
    if (!thrownObject || record.object != thrownObject) return {};
    return std::vector<void*>(record.frames, record.frames + record.count);
}

bool QuillonUncaughtExceptionHandler::isInstalled() { return gInstalled.load(); }

// May be called from a signal handler.
double QuillonUncaughtExceptionHandler::crashSendTimeoutSeconds() {
    const std::int64_t to = QuillonConfiguration::shareConfiguration().to.load(std::memory_order_relaxed);
    return (to >= 1 && to <= 600) ? static_cast<double>(to) : kDefaultSendTimeoutSeconds;
}

// May be called from a signal handler.
double QuillonUncaughtExceptionHandler::crashBudgetSeconds() {
    return kMainThreadHandOffSeconds + crashSendTimeoutSeconds() + kAssemblySeconds;
}

// May be called from a signal handler.
double QuillonUncaughtExceptionHandler::sendTimeoutWithinBudget() {
    const double timeout = crashSendTimeoutSeconds();
    const std::int64_t deadline = gCrashDeadlineNs.load();
    if (deadline == 0) return timeout;
    const double left = static_cast<double>(deadline - monotonicNs()) / 1e9 - kAssemblySeconds;
    return std::max(0.0, std::min(timeout, left));
}

// Never called from a signal handler.
void QuillonUncaughtExceptionHandler::prepareMainThread() {
    if (platform::RunLoop::isMainThread()) ensureLargeAlternateStack();
}

// Never called from a signal handler.
void QuillonUncaughtExceptionHandler::installDuringInitialisation() { installHandlers(); }

// Never called from a signal handler.
void QuillonUncaughtExceptionHandler::installUnlessMainLoopDoes() {
    // A task of the global queue rather than a thread of its own: no thread is made on the
    // caller's, and the worker is free again as soon as the main loop has installed them.
    try {
        platform::DispatchQueue::global().async([] {
            {
                InstalledSignal& installed = installedSignal();
                std::unique_lock lock(installed.m);
                if (installed.changed.wait_for(lock, std::chrono::duration<double>(kMainLoopInstallGraceSeconds),
                                               [] { return gInstalled.load(); }))
                    return;
            }
            InstallQuillonUncaughtExceptionHandler();
            platform::log(
                "[QUILLON WARN] the main run loop did not run: crash handlers installed from a library thread. "
                "Run QNRunMainLoopFor() on the main thread, or drive QNMainLoopFileDescriptor() from your "
                "event loop, so that crash reports are taken on the main thread.\n");
        });
    } catch (const std::system_error&) {
        // No thread: the main run loop remains the only installer.
    }
}

// Never called from a signal handler.
void QuillonUncaughtExceptionHandler::setReportHook(ReportHook hook) { gReportHook.store(hook); }
