#include "quillon/ui/Timer.h"

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"

#include <chrono>

namespace quillon::ui {

Timer::Timer(double interval, bool repeats, Block block)
    : interval_(interval < 0 ? 0 : interval), repeats_(repeats), block_(std::move(block)) {}

Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::scheduledTimer(double interval, bool repeats, Block block) {
    std::shared_ptr<Timer> timer(new Timer(interval, repeats, std::move(block)));
    timer->schedule();
    return timer;
}

void Timer::schedule() {
    // The pending task holds the timer, so a scheduled timer lives until it fires or is
    // invalidated, as on the platform.
    auto self = shared_from_this();
    pending_ = platform::RunLoop::main().performAfter(interval_, [self] {
        self->pending_ = 0;
        if (!self->valid_) return;
        if (!self->repeats_) self->valid_ = false;
        if (self->block_) self->block_(*self);
        if (self->repeats_ && self->valid_) self->schedule();
        if (!self->valid_) self->block_ = nullptr;  // breaks cycles through the block
    });
}

void Timer::invalidate() {
    if (!valid_) return;
    valid_ = false;
    if (pending_) platform::RunLoop::main().cancel(pending_);
    pending_ = 0;
    block_ = nullptr;
}

void Timer::fire() {
    if (!valid_) return;
    auto self = shared_from_this();
    if (block_) block_(*self);
    if (!repeats_) invalidate();
}

void performAfterDelay(double seconds, std::function<void()> block) {
    platform::RunLoop::main().performAfter(seconds < 0 ? 0 : seconds, std::move(block));
}

void performOnMainThread(std::function<void()> block, bool wait) {
    if (wait) {
        platform::RunLoop::main().performAndWait(std::move(block));
    } else {
        platform::RunLoop::main().perform(std::move(block));
    }
}

bool isMainThread() { return platform::RunLoop::isMainThread(); }

double mediaTime() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct OperationQueue::Impl {
    std::shared_ptr<platform::DispatchQueue> queue;
};

OperationQueue::OperationQueue() : impl_(std::make_shared<Impl>()) {
    impl_->queue = platform::DispatchQueue::serial("quillon.ui.operation-queue");
}

OperationQueue::OperationQueue(bool main) : impl_(std::make_shared<Impl>()), main_(main) {}

std::shared_ptr<OperationQueue> OperationQueue::mainQueue() {
    static auto* queue = new std::shared_ptr<OperationQueue>(new OperationQueue(true));
    return *queue;
}

void OperationQueue::addOperation(std::function<void()> operation) {
    if (main_) {
        platform::RunLoop::main().perform(std::move(operation));
    } else {
        impl_->queue->async(std::move(operation));
    }
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, bool onMainQueue, Block block) {
    using Delivery = platform::NotificationCenter::Delivery;
    return platform::NotificationCenter::defaultCenter().addObserver(
        name, onMainQueue ? Delivery::MainQueue : Delivery::PostingThread,
        [block = std::move(block)](const platform::Notification& n) { block(n.name, n.object); });
}

void NotificationCenter::removeObserver(Token token) { platform::NotificationCenter::defaultCenter().removeObserver(token); }

void NotificationCenter::post(const std::string& name, const void* object) {
    platform::Notification n;
    n.name = name;
    n.object = object;
    platform::NotificationCenter::defaultCenter().post(n);
}

}  // namespace quillon::ui
