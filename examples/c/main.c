/* quillon-example-c: a plain C program that reports its crashes.
 *
 *   quillon-example-c          starts the reporter, runs its loop for a second, exits
 *   quillon-example-c crash    ... then crashes (SIGSEGV); the report goes to the collector
 *
 * Build against an install: cc main.c $(pkg-config --cflags --libs quillon) -rdynamic
 * (-rdynamic exports the program's functions, so that backtraces name them). */
#include <quillon/quillon.h>

#include <stdio.h>
#include <string.h>

struct ledger_entry {
    const char* payee;
    long cents;
};

struct ledger_entry* volatile selected_entry = NULL; /* nothing selected */

/* Not static: exported functions appear by name in the crash report's backtrace. */
__attribute__((noinline)) void example_clear_selected_entry(void) {
    selected_entry->cents = 0; /* no entry selected: SIGSEGV */
}

int main(int argc, char** argv) {
    /* Starts the crash reporter; the server hosts come from Info.plist next to the executable. */
    quillonInit("example-app-key", "examples");
    quillonSetUserInfo("example-user");
    quillonLeaveBreadcrumb("opened the ledger");
    /* A program without an event loop of its own runs the library's loop from its main thread. */
    QNRunMainLoopFor(1.0);
    if (argc > 1 && strcmp(argv[1], "crash") == 0) {
        quillonLeaveBreadcrumb("clearing the selected entry");
        example_clear_selected_entry();
    }
    puts("quillon-example-c: no crash asked for (run it with 'crash')");
    return 0;
}
