// The main run loop: the host's main thread (the thread the process started on) runs it,
// either through QNRunMainLoopFor() or from the host's own event loop, which watches
// fileDescriptor() and calls runPending() when it becomes readable.
//
// Tasks posted with perform()/performAfter() run on the main thread in the order of their
// due time (FIFO among equal times). performAndWait() runs the task inline when called on the
// main thread; from another thread it blocks until the main thread ran it, or until the
// time-out passes (then it returns false and the task will not run).
#pragma once

#include <cstdint>
#include <functional>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform {

class RunLoop {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    static RunLoop& main();
    static bool isMainThread();

    void perform(Task task);
    TimerId performAfter(double seconds, Task task);
    void cancel(TimerId id);
    // Timeout < 0: wait forever.
    bool performAndWait(Task task, double timeoutSeconds = -1.0);

    // Runs due tasks on the calling thread for `seconds` (< 0: until stop() is called).
    void runFor(double seconds);
    // Runs one batch of due tasks, waiting at most `maxWaitSeconds` for one to become due.
    // Returns the number of tasks run.
    int runOnce(double maxWaitSeconds);
    // Runs every task that is due now without waiting.
    int runPending();
    void stop();

    // An eventfd that is readable while tasks are due, for hosts with their own event loop.
    int fileDescriptor() const;
    // Number of tasks that have been run by the main loop so far (diagnostics, tests).
    std::uint64_t tasksRun() const;

    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

private:
    RunLoop();
    ~RunLoop();
    struct Impl;
    Impl* impl_;
};

}  // namespace platform

#pragma GCC visibility pop
