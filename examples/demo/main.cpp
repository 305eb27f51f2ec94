// quillon-demo: a small ledger "application" that uses the crash reporter the way a host
// would, through the public headers only. Each launch is one act of the demo:
//
//   quillon-demo launch1   first launch: breadcrumbs, a user, two caught exceptions of two
//                          languages, then a segmentation fault (reported at once)
//   quillon-demo launch2   a launch without network: an uncaught C++ exception (stored)
//   quillon-demo launch3   a quiet launch that sends what was stored, relays a crash notice of
//                          its widget extension, then exits normally
//   quillon-demo screens   the ledger's screens with shake feedback (screens.cpp)
//
// scripts/demo runs the four against a collector on loopback.
#include <quillon/Quillon.h>
#include <quillon/quillon.h>

#include "screens.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

// Not in an anonymous namespace: the executable exports its symbols, so these functions
// appear by name in the crash reports' backtraces.
namespace ledger {

void say(const char* text) {
    std::printf("  [quillon-demo] %s\n", text);
    std::fflush(stdout);
}

// Told about the crash after it has been reported, just before the process ends.
class LedgerCrashDelegate : public QuillonDelegate {
public:
    void receivedCrashNotification(const std::string& stackTrace) override {
        say(stackTrace.empty() ? "delegate: crash reported" : "delegate: crash reported, with a stack trace");
    }
};

LedgerCrashDelegate gDelegate;

QuillonConfig demoConfig() {
    QuillonConfig config = QuillonConfig::defaultConfig();
    config.crashDelegate = &gDelegate;
    config.reportOnlyWIFI = false;  // a wired or any other link will do
    return config;
}

void start() { Quillon::init("demo-app-key", "demo-channel", demoConfig()); }

struct Entry {
    std::string payee;
    long cents;
};

long total(const std::vector<Entry>& entries, std::size_t count) {
    long sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += entries.at(i).cents;
    return sum;
}

Entry* volatile gSelectedEntry = nullptr;  // nothing selected

__attribute__((noinline)) void clearSelectedEntry() {
    gSelectedEntry->cents = 0;  // no entry is selected: SIGSEGV
}

void launch1() {
    say("initialising; the library registers the installation and fetches its configuration");
    start();
    Quillon::setUserInfo("ada@example.org");
    Quillon::leaveBreadcrumbWithString("opened ledger 'household'");
    std::vector<Entry> entries{{"bakery", 420}, {"rent", 95000}, {"books", 2599}};
    Quillon::leaveBreadcrumbWithFormat("loaded %zu entries", entries.size());
    QNRunMainLoopFor(1.0);  // the main thread runs the library's loop (handlers, answers)

    say("a caught C++ exception, reported with a message (pooled, sent on a later launch)");
    try {
        total(entries, 4);
    } catch (const std::exception& e) {
        Quillon::reportCustomizedException(e, "summing the ledger");
    }
    say("a Lua error from the embedded scripting runtime (pooled as well)");
    quillonReportException(3, "attempt to perform arithmetic on a nil value (field 'cents')",
                           "stack traceback:\n\t[C]: in ?\n\treports.lua:17: in function 'monthly'\n\t"
                           "reports.lua:40: in main chunk");

    Quillon::leaveBreadcrumbWithString("tapped 'repair ledger'");
    say("now a segmentation fault: the report is sent at once, then the process ends with status 246");
    clearSelectedEntry();
}

void launch2() {
    say("initialising without a network");
    start();
    Quillon::leaveBreadcrumbWithString("opened ledger 'travel'");
    QNRunMainLoopFor(0.5);
    say("an uncaught C++ exception: nothing can be sent, so the report is stored");
    throw std::logic_error("exchange rate table is empty");
}

void launch3() {
    say("initialising with the network back: the stored crash and the exception pool go out");
    // With the application group shared with the (pretend) widget extension, whose crash
    // notices the library relays while the main loop runs.
    Quillon::init("demo-app-key", "group.org.example.quillon-demo", "demo-channel", demoConfig());
    say("running the main loop for 4 s; the widget extension may report a crash meanwhile");
    QNRunMainLoopFor(4.0);
    say("done, exiting normally");
}

}  // namespace ledger

int main(int argc, char** argv) {
    const char* act = argc > 1 ? argv[1] : "";
    if (std::strcmp(act, "launch1") == 0) ledger::launch1();
    else if (std::strcmp(act, "launch2") == 0) ledger::launch2();
    else if (std::strcmp(act, "launch3") == 0) ledger::launch3();
    else if (std::strcmp(act, "screens") == 0) return ledger::runScreens(ledger::say);
    else {
        std::fprintf(stderr, "usage: quillon-demo launch1|launch2|launch3|screens\n");
        return 2;
    }
    return 0;
}
