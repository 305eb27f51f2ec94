// Where the last exception of each thread was thrown: the library interposes __cxa_throw
// and notes, before handing over to the C++ runtime, the thrown object and the throw site's
// return address. Every throw of the host passes here, so nothing more is done per throw (no
// unwinder walk, no symbolisation). The stack is taken when it is needed, in terminate: when
// nothing was unwound (no handler anywhere) the live stack still holds the whole path to the
// throw site; when a noexcept boundary (a thread's entry, a destructor) unwound part of it,
// the report has the throw site followed by the boundary's stack.
#pragma once

namespace quillon::throwsite {

constexpr int kMaxFrames = 2;

struct Record {
    const void* object = nullptr;  // the thrown object
    int count = 0;
    void* frames[kMaxFrames];  // frames[0] is in __cxa_throw, frames[1] the throw site
};

// Recording is off until the crash handlers are installed.
void setEnabled(bool enabled);
// The calling thread's record of its last throw.
const Record& current();

// Forgets the C++ runtime's own __cxa_throw, as in a host where it cannot be found; throws
// then go through the library's own raise (tests).
void forgetRuntimeThrowForTesting();

}  // namespace quillon::throwsite
