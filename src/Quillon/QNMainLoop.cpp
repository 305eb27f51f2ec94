// The C entry points that let a host run the library's main run loop, either directly or
// from its own event loop. They act only on the main thread: main-thread tasks must never
// run anywhere else.
#include "quillon/quillon.h"

#include "platform/runtime/RunLoop.h"

extern "C" {

void QNRunMainLoopFor(double seconds)
{
    if (platform::RunLoop::isMainThread())
        platform::RunLoop::main().runFor(seconds);
}

int QNMainLoopFileDescriptor(void)
{
    return platform::RunLoop::main().fileDescriptor();
}

void QNMainLoopRunPending(void)
{
    if (platform::RunLoop::isMainThread())
        platform::RunLoop::main().runPending();
}

}  // extern "C"
