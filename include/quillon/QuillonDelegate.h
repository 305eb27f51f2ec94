// The crash reporter's delegate. Every method is optional: the default does nothing.
// The library holds the delegate without owning it.
#pragma once

#include <string>

class QuillonDelegate {
public:
    virtual ~QuillonDelegate() = default;
    // Called after a crash has been reported, just before the process ends, with the
    // crash's symbolised backtrace (lines joined by "\n"; empty for a fatal signal).
    virtual void receivedCrashNotification(const std::string& stackTrace) {}
};
