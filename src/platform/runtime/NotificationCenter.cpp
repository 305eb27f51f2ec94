// The local notification center. Observers are called outside the center's lock, so a block
// may post, add or remove observers. Removing an observer also drops deliveries already
// queued on the main run loop for it. A main-queue observer is called inline when the post
// happens on the main thread, and through the main run loop (without waiting) otherwise.
#include "platform/runtime/NotificationCenter.h"

#include "platform/runtime/RunLoop.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct Observer {
    NotificationCenter::Token token;
    std::string name;  // empty: every notification
    NotificationCenter::Delivery delivery;
    NotificationCenter::Block block;
    std::atomic<bool> active{true};
};

}  // namespace

struct NotificationCenter::Impl {
    std::mutex m;
    std::vector<std::shared_ptr<Observer>> observers;
    Token nextToken = 1;
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::Impl& NotificationCenter::impl()
{
    // Only the default center exists; its state is a never-destroyed singleton as well.
    static Impl* state = new Impl;
    return *state;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Delivery delivery, Block block)
{
    auto& state = impl();
    auto observer = std::make_shared<Observer>();
    observer->name = std::move(name);
    observer->delivery = delivery;
    observer->block = std::move(block);
    std::lock_guard lock(state.m);
    observer->token = state.nextToken++;
    state.observers.push_back(observer);
    return observer->token;
}

void NotificationCenter::removeObserver(Token token)
{
    auto& state = impl();
    std::lock_guard lock(state.m);
    for (auto it = state.observers.begin(); it != state.observers.end(); ++it) {
        if ((*it)->token == token) {
            (*it)->active = false;
            state.observers.erase(it);
            return;
        }
    }
}

void NotificationCenter::post(const Notification& notification)
{
    auto& state = impl();
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(state.m);
        for (const auto& observer : state.observers)
            if (observer->name.empty() || observer->name == notification.name)
                matching.push_back(observer);
    }
    for (const auto& observer : matching) {
        if (observer->delivery == Delivery::MainQueue && !RunLoop::isMainThread()) {
            RunLoop::main().perform([observer, notification] {
                if (observer->active)
                    observer->block(notification);
            });
        } else if (observer->active) {
            observer->block(notification);
        }
    }
}

}  // namespace platform
