#include "reliclass/QuillonRreachability.h"

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"

#include <arpa/inet.h>

#include <cstdio>
#include <utility>

using platform::ReachabilityTarget;

namespace {

const char* const kChangedNotification = "FRkReachabilityChangedNotification";
const char* const kQueueLabel = "com.quillon.reachability";

std::shared_ptr<QuillonRreachability> makeForAddress(std::uint32_t ipv4) {
    auto target = std::make_shared<ReachabilityTarget>();
    target->kind = ReachabilityTarget::Kind::Address;
    target->ipv4 = ipv4;
    return std::make_shared<QuillonRreachability>(std::move(target));
}

}  // namespace

std::shared_ptr<QuillonRreachability> QuillonRreachability::reachabilityWithHostname(const std::string& hostname) {
    if (hostname.empty()) return nullptr;
    auto target = std::make_shared<ReachabilityTarget>();
    target->kind = ReachabilityTarget::Kind::HostName;
    target->hostName = hostname;
    return std::make_shared<QuillonRreachability>(std::move(target));
}

std::shared_ptr<QuillonRreachability> QuillonRreachability::reachabilityWithHostName(const std::string& hostname) {
    return reachabilityWithHostname(hostname);
}

std::shared_ptr<QuillonRreachability> QuillonRreachability::reachabilityWithAddress(const sockaddr_in& hostAddress) {
    if (hostAddress.sin_family != AF_INET) return nullptr;
    return makeForAddress(ntohl(hostAddress.sin_addr.s_addr));
}

std::shared_ptr<QuillonRreachability> QuillonRreachability::reachabilityForInternetConnection() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    zeroAddress.sin_port = 0;
    zeroAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    return reachabilityWithAddress(zeroAddress);
}

std::shared_ptr<QuillonRreachability> QuillonRreachability::reachabilityForLocalWiFi() {
    sockaddr_in localWifiAddress{};
    localWifiAddress.sin_family = AF_INET;
    localWifiAddress.sin_addr.s_addr = htonl(0xA9FE0000);  // 169.254.0.0
    return reachabilityWithAddress(localWifiAddress);
}

QuillonRreachability::QuillonRreachability(ReachabilityRef ref) : reachabilityRef_(std::move(ref)) {}

QuillonRreachability::~QuillonRreachability() {
    stopNotifier();
}

// ---------------------------------------------------------------- properties

std::shared_ptr<platform::DispatchQueue> QuillonRreachability::reachabilitySerialQueue() const {
    std::lock_guard lock(mutex_);
    return reachabilitySerialQueue_;
}

std::shared_ptr<QuillonRreachability> QuillonRreachability::reachabilityObject() const {
    std::lock_guard lock(mutex_);
    return reachabilityObject_;
}

bool QuillonRreachability::reachableOnWWAN() const {
    std::lock_guard lock(mutex_);
    return reachableOnWWAN_;
}

void QuillonRreachability::setReachableOnWWAN(bool value) {
    std::lock_guard lock(mutex_);
    reachableOnWWAN_ = value;
}

QuillonRreachability::Block QuillonRreachability::reachableBlock() const {
    std::lock_guard lock(mutex_);
    return reachableBlock_;
}

void QuillonRreachability::setReachableBlock(Block block) {
    std::lock_guard lock(mutex_);
    reachableBlock_ = std::move(block);
}

QuillonRreachability::Block QuillonRreachability::unreachableBlock() const {
    std::lock_guard lock(mutex_);
    return unreachableBlock_;
}

void QuillonRreachability::setUnreachableBlock(Block block) {
    std::lock_guard lock(mutex_);
    unreachableBlock_ = std::move(block);
}

// ---------------------------------------------------------------- queries

bool QuillonRreachability::isReachableWithFlags(std::uint32_t flags) const {
    if (!(flags & platform::kReachabilityReachable)) return false;
    const std::uint32_t transientOnly = platform::kReachabilityConnectionRequired | platform::kReachabilityTransientConnection;
    if ((flags & transientOnly) == transientOnly) return false;
    if ((flags & platform::kReachabilityIsWWAN) && !reachableOnWWAN()) return false;
    return true;
}

bool QuillonRreachability::isReachable() const {
    return isReachableWithFlags(reachabilityFlags());
}

bool QuillonRreachability::isReachableViaWWAN() const {
    std::uint32_t flags = reachabilityFlags();
    return (flags & platform::kReachabilityReachable) && (flags & platform::kReachabilityIsWWAN);
}

bool QuillonRreachability::isReachableViaWiFi() const {
    std::uint32_t flags = reachabilityFlags();
    return (flags & platform::kReachabilityReachable) && !(flags & platform::kReachabilityIsWWAN);
}

bool QuillonRreachability::connectionRequired() const {
    return isConnectionRequired();
}

bool QuillonRreachability::isConnectionRequired() const {
    return reachabilityFlags() & platform::kReachabilityConnectionRequired;
}

bool QuillonRreachability::isConnectionOnDemand() const {
    std::uint32_t flags = reachabilityFlags();
    return (flags & platform::kReachabilityConnectionRequired) &&
           (flags & (platform::kReachabilityConnectionOnTraffic | platform::kReachabilityConnectionOnDemand));
}

bool QuillonRreachability::isInterventionRequired() const {
    std::uint32_t flags = reachabilityFlags();
    return (flags & platform::kReachabilityConnectionRequired) && (flags & platform::kReachabilityInterventionRequired);
}

int QuillonRreachability::currentReachabilityStatus() const {
    // One read for the whole answer, so that a change in between cannot mix two states.
    std::uint32_t flags = reachabilityFlags();
    if (!isReachableWithFlags(flags)) return 0;
    return (flags & platform::kReachabilityIsWWAN) ? 1 : 2;
}

std::uint32_t QuillonRreachability::reachabilityFlags() const {
    if (!reachabilityRef_) return 0;
    auto source = platform::reachabilitySource();
    if (!source) return 0;
    return source->flags(*reachabilityRef_).value_or(0);
}

std::string QuillonRreachability::currentReachabilityFlags() const {
    std::uint32_t flags = reachabilityFlags();
    auto mark = [flags](std::uint32_t flag, char c) { return (flags & flag) ? c : '-'; };
    char text[16];
    std::snprintf(text, sizeof text, "%c%c %c%c%c%c%c%c%c", mark(platform::kReachabilityIsWWAN, 'W'),
                  mark(platform::kReachabilityReachable, 'R'), mark(platform::kReachabilityConnectionRequired, 'c'),
                  mark(platform::kReachabilityTransientConnection, 't'),
                  mark(platform::kReachabilityInterventionRequired, 'i'),
                  mark(platform::kReachabilityConnectionOnTraffic, 'C'),
                  mark(platform::kReachabilityConnectionOnDemand, 'D'),
                  mark(platform::kReachabilityIsLocalAddress, 'l'), mark(platform::kReachabilityIsDirect, 'd'));
    return text;
}

// There is no table of localised strings on this platform, so the texts are the keys.
std::string QuillonRreachability::currentReachabilityString() const {
    switch (currentReachabilityStatus()) {
    case 1:
        return "Cellular";
    case 2:
        return "WiFi";
    default:
        return "No Connection";
    }
}

std::string QuillonRreachability::description() const {
    char text[64];
    std::snprintf(text, sizeof text, "<%s: %#x>", "QuillonRreachability",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this)));
    return text;
}

// ---------------------------------------------------------------- notifier

bool QuillonRreachability::startNotifier() {
    std::shared_ptr<QuillonRreachability> self = weak_from_this().lock();
    if (!self || !reachabilityRef_) return false;
    std::lock_guard lock(mutex_);
    if (reachabilityObject_) return true;

    auto queue = platform::DispatchQueue::serial(kQueueLabel);
    if (!queue) return false;
    auto source = platform::reachabilitySource();
    if (!source) return false;

    std::uint64_t generation = ++generation_;
    std::weak_ptr<QuillonRreachability> weakSelf = self;
    std::weak_ptr<platform::DispatchQueue> weakQueue = queue;
    int id = source->watch([weakSelf, weakQueue, generation] {
        auto q = weakQueue.lock();
        if (!q) return;
        q->async([weakSelf, generation] {
            auto object = weakSelf.lock();
            if (!object) return;
            {
                // A change that was queued before stopNotifier (or a restart) is dropped.
                std::lock_guard lock(object->mutex_);
                if (object->generation_ != generation || !object->reachabilityObject_) return;
            }
            object->reachabilityChanged(object->reachabilityFlags());
        });
    });
    if (id == 0) return false;

    reachabilityObject_ = std::move(self);
    reachabilitySerialQueue_ = std::move(queue);
    watchedSource_ = std::move(source);
    watchId_ = id;
    return true;
}

void QuillonRreachability::stopNotifier() {
    std::shared_ptr<platform::ReachabilitySource> source;
    std::shared_ptr<platform::DispatchQueue> queue;
    std::shared_ptr<QuillonRreachability> object;
    int id = 0;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        source = std::move(watchedSource_);
        queue = std::move(reachabilitySerialQueue_);
        object = std::move(reachabilityObject_);
        id = std::exchange(watchId_, 0);
    }
    if (source && id) source->unwatch(id);
    // Dropping the queue is safe even from one of its own blocks: its worker finishes what
    // was queued and ends by itself.
    // `object` may be the last reference to this object: it goes last, when nothing of this
    // call touches members any more.
}

void QuillonRreachability::reachabilityChanged(std::uint32_t flags) {
    Block block = isReachableWithFlags(flags) ? reachableBlock() : unreachableBlock();
    if (block) block(*this);
    auto self = weak_from_this().lock();
    if (!self) return;
    platform::RunLoop::main().perform([self] {
        platform::Notification note;
        note.name = kChangedNotification;
        note.object = self.get();
        platform::NotificationCenter::defaultCenter().post(note);
    });
}
