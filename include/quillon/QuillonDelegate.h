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
    // Called after a crash has been reported, just before the process ends, with the crash's
    // symbolised backtrace (lines joined by "\n"; empty for a fatal signal). Normally on the
    // main thread; when the main thread does not take the report within two seconds (it is
    // blocked, or never runs the main loop), on the crashing thread or on a helper thread the
    // library starts for it. The process is dying: keep it short, and take no lock another
    // thread may hold.
    virtual void receivedCrashNotification(const std::string& /*stackTrace*/) {}
};
