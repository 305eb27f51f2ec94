// The collector's hook for symbolication: turning one received backtrace line into a function,
// a source file and a line, once the application's symbols are known. The crash page shows
// the resolved frame (the line as received stays one click away), "dump" prints it, and
// grouping uses the resolved function of the first application frame when there is one.
#pragma once

#include <functional>
#include <optional>
#include <string>

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

}  // namespace collector
