// The collector's hook for symbolication: turning one received backtrace line into a function,
// a source file and a line, once the application's symbols are known. The crash page shows
// the resolved frame (the line as received stays one click away), "dump" prints it, and
// grouping uses the resolved function of the first application frame when there is one.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace collector {

struct ResolvedFrame {
    std::string function;  // readable (demangled) function name
    std::string file;      // source file; "" when unknown
    int line = 0;          // source line; 0 when unknown
};

// Arguments: the envelope's application key, the application version as the device record
// carries it ("av", e.g. "1.4(27)"), and one backtrace line exactly as received
// ("%-3d %-35s 0x%016lx 0x%016lx %s + %d"). Answers nothing when the frame cannot be
// resolved. Called from the server's worker threads, so it must be thread-safe.
using FrameResolver = std::function<std::optional<ResolvedFrame>(
    const std::string& appKey, const std::string& appVersion, const std::string& backtraceLine)>;

// The resolver in use; empty (the default) means frames are shown as received. Set it once at
// start-up, before the server runs or "dump" reads the database.
void setFrameResolver(FrameResolver resolver);
const FrameResolver& frameResolver();

// A line alone cannot say whether its address is a return address (looked up one byte earlier,
// inside the call) or, in a signal's backtrace, the faulting instruction itself (the frame
// after the signal trampoline). A whole-backtrace resolver can tell; `signalRecord` is true for
// records named "exception Signal". Same threading rule as above.
using BacktraceResolver = std::function<std::vector<std::optional<ResolvedFrame>>(
    const std::string& appKey, const std::string& appVersion, const std::string& backtrace, bool signalRecord)>;
void setBacktraceResolver(BacktraceResolver resolver);

// One entry per line of `backtrace` (lines joined by "\n"): the backtrace resolver's answer
// when one is set, else the frame resolver's line by line, else nothing.
std::vector<std::optional<ResolvedFrame>> resolveBacktrace(const std::string& appKey, const std::string& appVersion,
                                                           const std::string& backtrace, bool signalRecord);

}  // namespace collector
