// Where the last exception of each thread was thrown: the library interposes __cxa_throw
// and records the innermost return addresses of the throw before handing over to the C++
// runtime, so that an uncaught exception is reported with the stack of its throw, not of
// terminate. Every throw of the host pays for it, so it is kept to a short unwinder walk
// with no symbolisation; when terminate finds the throw's stack still in place (no handler
// was found, nothing was unwound) the report takes the whole live stack from the throw on.
#pragma once

namespace quillon::throwsite {

constexpr int kMaxFrames = 32;

struct Record {
    const void* object = nullptr;  // the thrown object
    int count = 0;
    void* frames[kMaxFrames];  // frames[0] is inside __cxa_throw, frames[1] the throw site
};

// Recording is off until the crash handlers are installed.
void setEnabled(bool enabled);
// The calling thread's record of its last throw.
const Record& current();

// Forgets the C++ runtime's own __cxa_throw, as in a host where it cannot be found; throws
// then go through the library's own raise (tests).
void forgetRuntimeThrowForTesting();

}  // namespace quillon::throwsite
