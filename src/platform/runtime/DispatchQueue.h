// Dispatch queues: the global concurrent queue (a small pool of worker threads) and serial
// queues (one worker thread each, tasks in submission order). Worker threads have an
// alternate signal stack so that a stack overflow on them can still be reported.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class DispatchQueue {
public:
    using Task = std::function<void()>;

    // The global default-priority concurrent queue.
    static DispatchQueue& global();
    static std::shared_ptr<DispatchQueue> serial(std::string label);

    virtual ~DispatchQueue() = default;
    virtual void async(Task task) = 0;
    // Runs the task on the queue and waits for it.
    virtual void sync(Task task) = 0;
    virtual const std::string& label() const = 0;
};

// Gives the calling thread an alternate signal stack if it has none yet (idempotent).
void ensureAlternateSignalStack();
// Called by a library thread about to end: turns its alternate signal stack off and keeps the
// mapping for the next thread (they come and go as work does).
void releaseAlternateSignalStack();

}  // namespace platform
