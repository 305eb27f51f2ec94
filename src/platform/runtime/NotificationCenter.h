// The local notification center: named notifications posted in-process to block observers.
// An observer registered for the main queue gets its block on the main run loop; one
// registered without a queue runs on the posting thread.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <string>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform {

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, compared by identity only
    Value userInfo;                // null when there is none
};

class NotificationCenter {
public:
    using Block = std::function<void(const Notification&)>;
    using Token = std::uint64_t;
    enum class Delivery { PostingThread, MainQueue };

    static NotificationCenter& defaultCenter();

    Token addObserver(std::string name, Delivery delivery, Block block);
    void removeObserver(Token token);
    void post(const Notification& notification);

private:
    NotificationCenter() = default;
    struct Impl;
    Impl& impl();
};

}  // namespace platform

#pragma GCC visibility pop
