// Timers, delayed performs, operation queues and notifications, all on the library's main
// run loop (QNRunMainLoopFor, or the host's loop through QNMainLoopFileDescriptor).
#pragma once

#include "quillon/ui/Export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quillon::ui {

// A timer on the main run loop. It keeps itself alive while scheduled.
class QUILLON_UI_EXPORT Timer : public std::enable_shared_from_this<Timer> {
public:
    using Block = std::function<void(Timer&)>;
    // Fires after `interval` seconds (and every `interval` when repeating) until invalidated.
    static std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Block block);
    ~Timer();
    void invalidate();
    bool isValid() const { return valid_; }
    double timeInterval() const { return interval_; }
    // Fires now (a repeating timer keeps its schedule).
    void fire();

private:
    Timer(double interval, bool repeats, Block block);
    void schedule();
    double interval_;
    bool repeats_;
    bool valid_ = true;
    Block block_;
    std::uint64_t pending_ = 0;
};

// Runs `block` on the main run loop after `seconds` (0: at its next turn).
QUILLON_UI_EXPORT void performAfterDelay(double seconds, std::function<void()> block);
// Runs `block` on the main run loop (inline when called there and `wait` is set).
QUILLON_UI_EXPORT void performOnMainThread(std::function<void()> block, bool wait = false);
QUILLON_UI_EXPORT bool isMainThread();
// Seconds since an arbitrary start, monotonic (event and animation time stamps).
QUILLON_UI_EXPORT double mediaTime();

// An operation queue: the main queue runs its operations on the main run loop; a new queue
// runs them one after another on a thread of its own.
class QUILLON_UI_EXPORT OperationQueue {
public:
    OperationQueue();
    static std::shared_ptr<OperationQueue> mainQueue();
    void addOperation(std::function<void()> operation);
    bool isMain() const { return main_; }

private:
    struct Impl;
    explicit OperationQueue(bool main);
    std::shared_ptr<Impl> impl_;
    bool main_ = false;
};

// The library's notification center (the same one the feedback side uses).
class QUILLON_UI_EXPORT NotificationCenter {
public:
    using Token = std::uint64_t;
    using Block = std::function<void(const std::string& name, const void* object)>;
    // With `onMainQueue` the block runs on the main run loop, else on the posting thread.
    static Token addObserver(const std::string& name, bool onMainQueue, Block block);
    static void removeObserver(Token token);
    static void post(const std::string& name, const void* object);
};

}  // namespace quillon::ui
