// Reachability of a network target: flag queries, a status (0 not reachable, 1 cellular,
// 2 Wi-Fi), text forms of both, and a change notifier that calls blocks on a serial queue and
// posts "FRkReachabilityChangedNotification" on the main run loop.
//
// Flags are read fresh from platform::reachabilitySource() on every query; a failed read
// counts as all flags clear. Objects are meant to be held by std::shared_ptr: the notifier
// keeps the object alive through that pointer while it watches.
#pragma once

#include "platform/net/Reachability.h"

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
class DispatchQueue;
}

class QuillonRreachability : public std::enable_shared_from_this<QuillonRreachability> {
public:
    // The handle of the watched target (owned, immutable).
    using ReachabilityRef = std::shared_ptr<const platform::ReachabilityTarget>;
    using Block = std::function<void(QuillonRreachability&)>;

    // Creation; nullptr when no handle can be made for the target (empty host name, an
    // address that is not IPv4).
    static std::shared_ptr<QuillonRreachability> reachabilityWithHostname(const std::string& hostname);
    static std::shared_ptr<QuillonRreachability> reachabilityWithHostName(const std::string& hostname);
    static std::shared_ptr<QuillonRreachability> reachabilityWithAddress(const sockaddr_in& hostAddress);
    // 0.0.0.0: any route out.
    static std::shared_ptr<QuillonRreachability> reachabilityForInternetConnection();
    // 169.254.0.0: the link-local network.
    static std::shared_ptr<QuillonRreachability> reachabilityForLocalWiFi();

    explicit QuillonRreachability(ReachabilityRef ref);  // reachableOnWWAN starts true
    ~QuillonRreachability();
    QuillonRreachability(const QuillonRreachability&) = delete;
    QuillonRreachability& operator=(const QuillonRreachability&) = delete;

    const ReachabilityRef& reachabilityRef() const { return reachabilityRef_; }
    std::shared_ptr<platform::DispatchQueue> reachabilitySerialQueue() const;
    std::shared_ptr<QuillonRreachability> reachabilityObject() const;

    bool reachableOnWWAN() const;
    void setReachableOnWWAN(bool value);
    Block reachableBlock() const;
    void setReachableBlock(Block block);
    Block unreachableBlock() const;
    void setUnreachableBlock(Block block);

    bool isReachableWithFlags(std::uint32_t flags) const;
    bool isReachable() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool connectionRequired() const;
    bool isConnectionRequired() const;
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    int currentReachabilityStatus() const;
    std::uint32_t reachabilityFlags() const;
    std::string currentReachabilityFlags() const;
    std::string currentReachabilityString() const;
    std::string description() const;

    // Starts watching for changes; false when the object is not held by a shared_ptr or the
    // change watch cannot be set up. Starting twice is the same as starting once.
    bool startNotifier();
    void stopNotifier();

    // Runs the change handling for the given flags (what the notifier does on each change).
    void reachabilityChanged(std::uint32_t flags);

private:
    ReachabilityRef reachabilityRef_;
    mutable std::mutex mutex_;
    bool reachableOnWWAN_ = true;
    Block reachableBlock_;
    Block unreachableBlock_;
    // Notifier state, under mutex_.
    std::shared_ptr<platform::DispatchQueue> reachabilitySerialQueue_;
    std::shared_ptr<QuillonRreachability> reachabilityObject_;
    std::shared_ptr<platform::ReachabilitySource> watchedSource_;
    int watchId_ = 0;
    std::uint64_t generation_ = 0;  // bumped on every start and stop
};
