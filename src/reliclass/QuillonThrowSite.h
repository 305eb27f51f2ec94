// Where the last exception of each thread was thrown: the library interposes __cxa_throw
// and records the thread's return addresses before handing over to the C++ runtime, so
// that an uncaught exception is reported with the stack of its throw, not of terminate.
#pragma once

namespace quillon::throwsite {

constexpr int kMaxFrames = 128;

struct Record {
    const void* object = nullptr;  // the thrown object
    int count = 0;
    void* frames[kMaxFrames];
};

// Recording is off until the crash handlers are installed.
void setEnabled(bool enabled);
// The calling thread's record of its last throw.
const Record& current();

}  // namespace quillon::throwsite
