// The crash reporter's delegate. Every method is optional: the default does nothing.
// The library holds the delegate without owning it.
#pragma once

#include "quillon/quillon.h"

#include <string>

class QUILLON_EXPORT QuillonDelegate {
public:
    // Defined in the library, which therefore holds the class's one exported type
    // information: hosts derive from it across the shared library's boundary.
    virtual ~QuillonDelegate();
    // Called after a crash has been reported, on the main thread, just before the process
    // ends, with the crash's symbolised backtrace (lines joined by "\n"; empty for a fatal
    // signal).
    virtual void receivedCrashNotification(const std::string& /*stackTrace*/) {}
};
