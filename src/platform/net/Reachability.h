// Reachability flags of a network target, in the mobile platform's flag mask.
//
// The real source reads rtnetlink and /sys/class/net: the internet target (0.0.0.0) is
// reachable when a default route exists; the link-local target (169.254.0.0) when a
// non-loopback wired or wireless link is up; the cellular flag is set when the outgoing
// interface is a WWAN link (DEVTYPE=wwan in its uevent). Any other address counts as the
// internet target, except loopback addresses (reachable, local and direct while lo is up).
// A host name counts as the internet target: it is not resolved here, so a query never
// blocks on DNS; an empty name is never reachable. Wired means any non-loopback link of
// type ARPHRD_ETHER, virtual ones (bridges, veth) included. The real source remembers its
// answers until the kernel announces a change of links, addresses or routes, so repeated
// queries cost one non-blocking read. Tests substitute a source; the real one is the default.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

enum ReachabilityFlag : std::uint32_t {
    kReachabilityTransientConnection = 0x1,
    kReachabilityReachable = 0x2,
    kReachabilityConnectionRequired = 0x4,
    kReachabilityConnectionOnTraffic = 0x8,
    kReachabilityInterventionRequired = 0x10,
    kReachabilityConnectionOnDemand = 0x20,
    kReachabilityIsLocalAddress = 0x10000,
    kReachabilityIsDirect = 0x20000,
    kReachabilityIsWWAN = 0x40000,
};

struct ReachabilityTarget {
    enum class Kind { Address, HostName } kind = Kind::Address;
    std::uint32_t ipv4 = 0;  // host byte order, for Kind::Address
    std::string hostName;    // for Kind::HostName
};

class ReachabilitySource {
public:
    virtual ~ReachabilitySource() = default;
    // The current flags for the target; nullopt when they cannot be read.
    virtual std::optional<std::uint32_t> flags(const ReachabilityTarget& target) = 0;
    // Calls `changed` (on a thread of the source's choosing) whenever the network
    // configuration may have changed. Returns a watch id (> 0) or 0 on failure.
    virtual int watch(std::function<void()> changed) = 0;
    virtual void unwatch(int id) = 0;
};

// The source in use: the rtnetlink one unless a test installed another.
std::shared_ptr<ReachabilitySource> reachabilitySource();
void setReachabilitySource(std::shared_ptr<ReachabilitySource> source);  // nullptr: real one
std::shared_ptr<ReachabilitySource> makeNetlinkReachabilitySource();
// The same, reading interface kinds (wireless, DEVTYPE) from another /sys/class/net tree.
std::shared_ptr<ReachabilitySource> makeNetlinkReachabilitySource(std::string sysClassNetDir);

}  // namespace platform
