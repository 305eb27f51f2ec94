// Capture of the two ways the host dies: an uncaught exception (std::terminate with an
// active exception) and a fatal signal. Both become one exception object that is handed to
// the coordinator's reportException() on the main thread, which reports and ends the
// process. Also renders symbolised backtraces in the report's line layout.
#pragma once

#include "platform/foundation/Exception.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Crash events seen by this process (exceptions and signals together); only ever increased.
extern std::atomic<std::int32_t> QuillonUncaughtExceptionCount;

// Installs the terminate handler and the handlers of SIGABRT, SIGILL, SIGSEGV, SIGFPE,
// SIGBUS, SIGPIPE and SIGTRAP (in that order), replacing whatever was there.
void InstallQuillonUncaughtExceptionHandler();
// The uncaught-exception handler. Returns only when the report path did not end the process.
void QuillonHandleException(const platform::Exception& exception);
// The signal handler. Returns only when the report path did not end the process; the
// installed trampoline then restores the default disposition and raises the signal again.
void QuillonSignalHandler(int signal);

class QuillonUncaughtExceptionHandler {
public:
    static constexpr std::int32_t kHandlerLimit = 10;
    static constexpr int kMaxFrames = 128;
    // How long a handler waits for the main thread to take the report before assembling it
    // on the crashing thread.
    static constexpr double kMainThreadHandOffSeconds = 2.0;
    // The crash-time send's time-out when the server's "to" is not a usable number of seconds.
    static constexpr double kDefaultSendTimeoutSeconds = 3.0;
    // Room in the crash budget for assembling, storing and removing the record and for the
    // delegate; the send never eats into it.
    static constexpr double kAssemblySeconds = 8.0;
    // How long the main run loop has to install the handlers before a library thread does.
    static constexpr double kMainLoopInstallGraceSeconds = 1.0;

    // The one time budget of a crash, from the first handler to the end of the process:
    // hand-off, send time-out and assembly. The watchdog ends the process when it is spent.
    static double crashBudgetSeconds();
    // The server's "to" when it is 1..600 seconds, else the default.
    static double crashSendTimeoutSeconds();
    // What is left of the send time-out within the running crash's budget (the plain send
    // time-out when no crash is being handled); 0 when there is no time left to send.
    static double sendTimeoutWithinBudget();

    // Run on the main thread during initialisation: gives it a signal stack that can hold a
    // whole report, so that the handlers may later be installed from any thread.
    static void prepareMainThread();
    // Installs the handlers at once on the calling thread, so that a crash right after
    // initialisation is reported. The delayed installation still runs and replaces handlers
    // the host installed in between; isInstalled() waits for that one.
    static void installDuringInitialisation();
    // Installs the handlers from a library thread when the main run loop has not done so
    // within the grace period, and says so on the console once.
    static void installUnlessMainLoopDoes();

    // One line per symbolisable frame of the calling thread.
    static std::vector<std::string> exceptionBacktrace();
    // One line per symbolisable address, indices counting emitted lines from 0.
    static std::vector<std::string> symbolicate(const std::vector<void*>& addresses);
    // "%-3d %-35s 0x%016lx 0x%016lx %s + %d" in a 1024-byte buffer; a null symbol prints
    // "(null)".
    static std::string formatBacktraceLine(int index, const char* imageName, std::uintptr_t address,
                                           std::uintptr_t imageBase, const char* symbolName,
                                           std::uintptr_t symbolAddress);
    // "SIGSEGV" and the like for the caught signals; "" for any other number.
    static std::string signalName(int signal);
    // "Application received signal <name>".
    static std::string signalReason(int signal);

    // Ends the process after a report: exit status 246, no static destructors or atexit
    // handlers (the process is in an unknown state), standard streams flushed.
    [[noreturn]] static void crashMethodWithException(const platform::Exception& exception);

    // The exception object for the exception being handled by std::terminate: a
    // platform::Exception keeps its own name, reason, user info and class; anything else is
    // named by its demangled type, with what() as the reason. Return addresses are the
    // throw site's when known, else the caller's.
    static std::unique_ptr<platform::Exception> currentExceptionObject();

    // Whether the delayed installation (main run loop, or a library thread without it) ran.
    static bool isInstalled();

    // Replaces the coordinator as the receiver of captured exceptions (tests).
    using ReportHook = void (*)(const platform::Exception&);
    static void setReportHook(ReportHook hook);

    // Return addresses recorded when the object at `thrownObject` was thrown on this thread.
    static std::vector<void*> throwSiteAddresses(const void* thrownObject);
};
