#include "Symbolication.h"

#include <sstream>

namespace collector {

namespace {
FrameResolver& slot() {
    static FrameResolver resolver;
    return resolver;
}
BacktraceResolver& backtraceSlot() {
    static BacktraceResolver resolver;
    return resolver;
}
}  // namespace

void setFrameResolver(FrameResolver resolver) { slot() = std::move(resolver); }
const FrameResolver& frameResolver() { return slot(); }
void setBacktraceResolver(BacktraceResolver resolver) { backtraceSlot() = std::move(resolver); }

std::vector<std::optional<ResolvedFrame>> resolveBacktrace(const std::string& appKey, const std::string& appVersion,
                                                           const std::string& backtrace, bool signalRecord) {
    if (const auto& whole = backtraceSlot()) return whole(appKey, appVersion, backtrace, signalRecord);
    std::vector<std::optional<ResolvedFrame>> out;
    std::istringstream in(backtrace);
    std::string line;
    while (std::getline(in, line)) out.push_back(slot() ? slot()(appKey, appVersion, line) : std::nullopt);
    return out;
}

}  // namespace collector
