#include "platform/net/Reachability.h"

#include "platform/runtime/DispatchQueue.h"

// glibc's net/ headers first: the kernel's linux/if.h defers to them when they come first.
#include <net/if.h>
#include <net/if_arp.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// ---------------------------------------------------------------- rtnetlink dumps

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

struct Route {
    int family = 0;
    int outInterface = 0;  // 0 when the route names none
    std::uint32_t priority = 0;
};

struct Link {
    int index = 0;
    unsigned type = 0;   // ARPHRD_*
    unsigned flags = 0;  // IFF_*
    int operState = -1;  // IF_OPER_*, -1 when not reported
    std::string name;
};

// Sends one dump request and calls `onMessage` for every answer message. Returns false when
// the socket cannot be opened or the answer cannot be read completely.
template <class OnMessage>
bool dump(std::uint16_t type, const void* payload, std::size_t payloadSize, OnMessage onMessage) {
    Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.valid()) return false;
    // A receive time-out bounds a query even if the kernel never finishes the dump.
    timeval tv{2, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return false;

    std::vector<char> request(NLMSG_SPACE(payloadSize), 0);
    auto* header = reinterpret_cast<nlmsghdr*>(request.data());
    header->nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(payloadSize));
    header->nlmsg_type = type;
    header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header->nlmsg_seq = 1;
    std::memcpy(NLMSG_DATA(header), payload, payloadSize);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), request.data(), header->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return false;

    std::vector<char> buffer(65536);
    for (;;) {
        ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        auto remaining = static_cast<unsigned>(n);
        for (auto* msg = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(msg, remaining);
             msg = NLMSG_NEXT(msg, remaining)) {
            if (msg->nlmsg_seq != 1) continue;
            if (msg->nlmsg_type == NLMSG_DONE) return true;
            if (msg->nlmsg_type == NLMSG_ERROR) return false;
            if (msg->nlmsg_flags & NLM_F_DUMP_INTR) return false;
            onMessage(msg);
        }
    }
}

// Default routes of the main table (IPv4 and IPv6) that can carry traffic.
std::optional<std::vector<Route>> defaultRoutes() {
    std::vector<Route> routes;
    rtmsg request{};
    request.rtm_family = AF_UNSPEC;
    bool ok = dump(RTM_GETROUTE, &request, sizeof request, [&](nlmsghdr* msg) {
        if (msg->nlmsg_type != RTM_NEWROUTE) return;
        auto* rt = static_cast<rtmsg*>(NLMSG_DATA(msg));
        if (rt->rtm_family != AF_INET && rt->rtm_family != AF_INET6) return;
        if (rt->rtm_dst_len != 0 || rt->rtm_type != RTN_UNICAST) return;
        // A route whose link lost its carrier stays in the table but carries nothing.
        if (rt->rtm_flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN)) return;
        std::uint32_t table = rt->rtm_table;
        Route route;
        route.family = rt->rtm_family;
        int attrLength = static_cast<int>(RTM_PAYLOAD(msg));
        for (auto* attr = RTM_RTA(rt); RTA_OK(attr, attrLength); attr = RTA_NEXT(attr, attrLength)) {
            switch (attr->rta_type) {
            case RTA_TABLE:
                if (RTA_PAYLOAD(attr) >= sizeof(std::uint32_t))
                    std::memcpy(&table, RTA_DATA(attr), sizeof table);
                break;
            case RTA_OIF:
                if (RTA_PAYLOAD(attr) >= sizeof(int)) std::memcpy(&route.outInterface, RTA_DATA(attr), sizeof(int));
                break;
            case RTA_PRIORITY:
                if (RTA_PAYLOAD(attr) >= sizeof(std::uint32_t))
                    std::memcpy(&route.priority, RTA_DATA(attr), sizeof(std::uint32_t));
                break;
            case RTA_MULTIPATH: {
                // Multipath route: take the first next hop that is alive.
                auto* hop = static_cast<rtnexthop*>(RTA_DATA(attr));
                int hopLength = static_cast<int>(RTA_PAYLOAD(attr));
                while (route.outInterface == 0 && RTNH_OK(hop, hopLength)) {
                    if (!(hop->rtnh_flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN))) route.outInterface = hop->rtnh_ifindex;
                    hopLength -= RTNH_ALIGN(hop->rtnh_len);
                    hop = RTNH_NEXT(hop);
                }
                break;
            }
            default:
                break;
            }
        }
        if (table != RT_TABLE_MAIN) return;
        routes.push_back(route);
    });
    if (!ok) return std::nullopt;
    return routes;
}

std::optional<std::vector<Link>> links() {
    std::vector<Link> result;
    ifinfomsg request{};
    request.ifi_family = AF_UNSPEC;
    bool ok = dump(RTM_GETLINK, &request, sizeof request, [&](nlmsghdr* msg) {
        if (msg->nlmsg_type != RTM_NEWLINK) return;
        auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(msg));
        Link link;
        link.index = info->ifi_index;
        link.type = info->ifi_type;
        link.flags = info->ifi_flags;
        int attrLength = static_cast<int>(IFLA_PAYLOAD(msg));
        for (auto* attr = IFLA_RTA(info); RTA_OK(attr, attrLength); attr = RTA_NEXT(attr, attrLength)) {
            if (attr->rta_type == IFLA_IFNAME) {
                const char* name = static_cast<const char*>(RTA_DATA(attr));
                link.name.assign(name, strnlen(name, RTA_PAYLOAD(attr)));
            } else if (attr->rta_type == IFLA_OPERSTATE && RTA_PAYLOAD(attr) >= 1) {
                link.operState = *static_cast<const unsigned char*>(RTA_DATA(attr));
            }
        }
        result.push_back(std::move(link));
    });
    if (!ok) return std::nullopt;
    return result;
}

// ---------------------------------------------------------------- sysfs

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isWireless(const std::string& sysNet, const std::string& name) {
    return exists(sysNet + "/" + name + "/wireless") || exists(sysNet + "/" + name + "/phy80211");
}

bool isWwan(const std::string& sysNet, const std::string& name) {
    if (name.empty()) return false;
    std::ifstream in(sysNet + "/" + name + "/uevent");
    std::string line;
    while (std::getline(in, line))
        if (line == "DEVTYPE=wwan") return true;
    return false;
}

std::string interfaceName(int index) {
    char name[IF_NAMESIZE] = {};
    if (index <= 0 || !::if_indextoname(static_cast<unsigned>(index), name)) return {};
    return name;
}

bool linkIsUp(const Link& link) {
    if ((link.flags & (IFF_UP | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING)) return false;
    // IF_OPER_UNKNOWN is what drivers without carrier reporting give; IFF_RUNNING decides then.
    return link.operState < 0 || link.operState == IF_OPER_UP || link.operState == IF_OPER_UNKNOWN;
}

// ---------------------------------------------------------------- the netlink source

constexpr std::uint32_t kLinkLocalNet = 0xA9FE0000;  // 169.254.0.0/16
constexpr std::uint32_t kLoopbackNet = 0x7F000000;   // 127.0.0.0/8

class NetlinkSource : public ReachabilitySource {
public:
    explicit NetlinkSource(std::string sysNet) : sysNet_(std::move(sysNet)), watcher_(std::make_shared<Watcher>()) {}

    ~NetlinkSource() override { watcher_->shutDown(); }

    std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override {
        if (target.kind == ReachabilityTarget::Kind::HostName) {
            // A host name is judged like the internet target: without a default route it cannot
            // be reached; with one, its resolution is left to the connection that follows.
            if (target.hostName.empty()) return 0u;  // nothing to resolve
            return remembered(kInternet);
        }
        if ((target.ipv4 & 0xFFFF0000) == kLinkLocalNet) return remembered(kLinkLocal);
        if ((target.ipv4 & 0xFF000000) == kLoopbackNet) return remembered(kLoopback);
        return remembered(kInternet);
    }

    int watch(std::function<void()> changed) override { return watcher_->add(std::move(changed)); }
    void unwatch(int id) override { watcher_->remove(id); }

private:
    enum TargetClass { kInternet, kLinkLocal, kLoopback, kTargetClasses };

    std::optional<std::uint32_t> fresh(TargetClass c) {
        switch (c) {
        case kLinkLocal: return linkLocalFlags();
        case kLoopback: return loopbackFlags();
        default: return internetFlags();
        }
    }

    // An answer stays valid until the kernel announces a change of links, addresses or
    // routes: a socket subscribed to those announcements (opened before the first dump) is
    // drained without blocking before a remembered answer is used. So the crash path asks
    // the kernel for nothing while the network stays as it was. A caller that finds another
    // one refreshing asks the kernel itself rather than wait.
    std::optional<std::uint32_t> remembered(TargetClass c) {
        std::unique_lock lock(memo_.mutex, std::try_to_lock);
        if (!lock.owns_lock()) return fresh(c);
        if (memo_.events < 0) memo_.events = Watcher::openEventSocket();
        if (memo_.events < 0) return fresh(c);
        if (changedSinceLastLook(memo_.events))
            for (auto& known : memo_.known) known.reset();
        if (memo_.known[c]) return memo_.known[c];
        memo_.known[c] = fresh(c);
        return memo_.known[c];
    }

    static bool changedSinceLastLook(int sock) {
        char buffer[8192];
        bool changed = false;
        for (;;) {
            ssize_t n = ::recv(sock, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && errno == ENOBUFS)) {
                changed = true;  // an overrun lost announcements: a change as well
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return changed;
        }
    }

    struct Memo {
        std::mutex mutex;
        int events = -1;
        std::optional<std::uint32_t> known[kTargetClasses];
        ~Memo() {
            if (events >= 0) ::close(events);
        }
    };

    std::optional<std::uint32_t> internetFlags() {
        auto routes = defaultRoutes();
        if (!routes) return std::nullopt;
        if (routes->empty()) return 0u;
        // The route the kernel prefers: lowest metric, the first listed among equals.
        const Route* best = &routes->front();
        for (const Route& r : *routes)
            if (r.priority < best->priority) best = &r;
        std::uint32_t result = kReachabilityReachable;
        if (isWwan(sysNet_, interfaceName(best->outInterface))) result |= kReachabilityIsWWAN;
        return result;
    }

    // The link-local network is reachable directly over an up wired or wireless link; a
    // cellular link counts only when there is no other.
    std::optional<std::uint32_t> linkLocalFlags() {
        auto all = links();
        if (!all) return std::nullopt;
        bool other = false, wwan = false;
        for (const Link& link : *all) {
            if ((link.flags & IFF_LOOPBACK) || link.type == ARPHRD_LOOPBACK || !linkIsUp(link)) continue;
            if (isWwan(sysNet_, link.name))
                wwan = true;
            else if (link.type == ARPHRD_ETHER || isWireless(sysNet_, link.name))
                other = true;
        }
        if (other) return kReachabilityReachable | kReachabilityIsDirect;
        if (wwan) return kReachabilityReachable | kReachabilityIsDirect | kReachabilityIsWWAN;
        return 0u;
    }

    std::optional<std::uint32_t> loopbackFlags() {
        auto all = links();
        if (!all) return std::nullopt;
        for (const Link& link : *all)
            if ((link.flags & IFF_LOOPBACK) && (link.flags & IFF_UP))
                return kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect;
        return 0u;
    }

    // One background thread that listens to link, address and route changes and calls the
    // watchers. Its state is shared with the thread so that it outlives the source if the
    // last reference is dropped on the thread itself.
    struct Watcher : std::enable_shared_from_this<Watcher> {
        std::mutex mutex;
        std::map<int, std::function<void()>> callbacks;
        int nextId = 1;
        std::thread thread;
        std::thread::id threadId;
        int wakeFd = -1;
        bool stopping = false;
        // Held while callbacks run, so that remove() can wait for a running one to finish.
        std::mutex dispatchMutex;

        ~Watcher() {
            if (wakeFd >= 0) ::close(wakeFd);
        }

        int add(std::function<void()> changed) {
            if (!changed) return 0;
            std::lock_guard lock(mutex);
            if (stopping) return 0;
            if (!thread.joinable()) {
                int sock = openEventSocket();
                if (sock < 0) return 0;
                if (wakeFd < 0) wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
                if (wakeFd < 0) {
                    ::close(sock);
                    return 0;
                }
                thread = std::thread([self = shared_from_this(), sock] { self->run(sock); });
                threadId = thread.get_id();
            }
            int id = nextId++;
            callbacks.emplace(id, std::move(changed));
            return id;
        }

        // After remove() returns on another thread, the callback is not running and will not run.
        void remove(int id) {
            {
                std::lock_guard lock(mutex);
                callbacks.erase(id);
            }
            if (std::this_thread::get_id() != threadId) std::lock_guard wait(dispatchMutex);
        }

        void shutDown() {
            std::thread t;
            {
                std::lock_guard lock(mutex);
                stopping = true;
                callbacks.clear();
                t = std::move(thread);
            }
            if (!t.joinable()) return;
            std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
            if (t.get_id() == std::this_thread::get_id())
                t.detach();
            else
                t.join();
        }

        static int openEventSocket() {
            int sock = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
            if (sock < 0) return -1;
            sockaddr_nl local{};
            local.nl_family = AF_NETLINK;
            local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
            if (::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
                ::close(sock);
                return -1;
            }
            return sock;
        }

        void run(int sock) {
            ensureAlternateSignalStack();
            std::vector<char> buffer(16384);
            for (;;) {
                pollfd fds[2] = {{sock, POLLIN, 0}, {wakeFd, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                if (fds[1].revents) break;
                // Drain the burst a single change produces, then notify once. An overrun
                // (ENOBUFS) means events were lost, which is a change as well.
                bool changed = false;
                for (;;) {
                    ssize_t n = ::recv(sock, buffer.data(), buffer.size(), 0);
                    if (n > 0 || (n < 0 && errno == ENOBUFS)) {
                        changed = true;
                        continue;
                    }
                    if (n < 0 && errno == EINTR) continue;
                    break;
                }
                if (changed) notify();
            }
            ::close(sock);
        }

        void notify() {
            std::lock_guard running(dispatchMutex);
            std::vector<std::pair<int, std::function<void()>>> snapshot;
            {
                std::lock_guard lock(mutex);
                snapshot.assign(callbacks.begin(), callbacks.end());
            }
            for (auto& [id, callback] : snapshot) {
                {
                    // Skip a callback removed by an earlier one in this round.
                    std::lock_guard lock(mutex);
                    if (!callbacks.count(id)) continue;
                }
                callback();
            }
        }
    };

    std::string sysNet_;
    std::shared_ptr<Watcher> watcher_;
    Memo memo_;
};

std::mutex& sourceMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

std::shared_ptr<ReachabilitySource>& installedSource() {
    static auto* s = new std::shared_ptr<ReachabilitySource>;
    return *s;
}

std::shared_ptr<ReachabilitySource> realSource() {
    static auto* s = new std::shared_ptr<ReachabilitySource>(makeNetlinkReachabilitySource());
    return *s;
}

}  // namespace

std::shared_ptr<ReachabilitySource> makeNetlinkReachabilitySource() {
    return makeNetlinkReachabilitySource("/sys/class/net");
}

std::shared_ptr<ReachabilitySource> makeNetlinkReachabilitySource(std::string sysClassNetDir) {
    return std::make_shared<NetlinkSource>(std::move(sysClassNetDir));
}

std::shared_ptr<ReachabilitySource> reachabilitySource() {
    {
        std::lock_guard lock(sourceMutex());
        if (installedSource()) return installedSource();
    }
    return realSource();
}

void setReachabilitySource(std::shared_ptr<ReachabilitySource> source) {
    std::lock_guard lock(sourceMutex());
    installedSource() = std::move(source);
}

}  // namespace platform
