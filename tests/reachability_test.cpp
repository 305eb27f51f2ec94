#include "platform/net/Reachability.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"
#include "reliclass/QuillonRreachability.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

class FakeSource : public platform::ReachabilitySource {
public:
    std::optional<std::uint32_t> flags(const platform::ReachabilityTarget&) override {
        std::lock_guard lock(mutex_);
        return value_;
    }
    int watch(std::function<void()> changed) override {
        std::lock_guard lock(mutex_);
        int id = next_++;
        watchers_[id] = std::move(changed);
        return id;
    }
    void unwatch(int id) override {
        std::lock_guard lock(mutex_);
        watchers_.erase(id);
    }
    void set(std::optional<std::uint32_t> v) {
        std::lock_guard lock(mutex_);
        value_ = v;
    }
    // A network change: the flags change, then every watcher hears of it.
    void change(std::optional<std::uint32_t> v) {
        set(v);
        std::map<int, std::function<void()>> copy;
        {
            std::lock_guard lock(mutex_);
            copy = watchers_;
        }
        for (auto& [id, w] : copy) w();
    }
    std::size_t watchers() {
        std::lock_guard lock(mutex_);
        return watchers_.size();
    }

private:
    std::mutex mutex_;
    std::optional<std::uint32_t> value_ = 0u;
    std::map<int, std::function<void()>> watchers_;
    int next_ = 1;
};

class ReachabilityTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setReachabilitySource(fake); }
    void TearDown() override { platform::setReachabilitySource(nullptr); }
    std::shared_ptr<FakeSource> fake = std::make_shared<FakeSource>();
};

TEST_F(ReachabilityTest, StatusAndTextFollowTheFlags) {
    struct Case {
        std::uint32_t flags;
        bool onWWAN;
        int status;
        const char* text;
    } cases[] = {
        {0x2, true, 2, "WiFi"},
        {0x40002, true, 1, "Cellular"},
        {0x0, true, 0, "No Connection"},
        {0x5, true, 0, "No Connection"},      // connection required + transient, not reachable
        {0x7, true, 0, "No Connection"},      // the same with reachable set
        {0x40002, false, 0, "No Connection"}, // cellular does not count
        {0x40000, true, 0, "No Connection"},
        {0x20002, false, 2, "WiFi"},
    };
    auto r = QuillonRreachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->reachableOnWWAN());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        fake->set(c.flags);
        r->setReachableOnWWAN(c.onWWAN);
        EXPECT_EQ(r->currentReachabilityStatus(), c.status);
        EXPECT_EQ(r->currentReachabilityString(), c.text);
        EXPECT_EQ(r->isReachable(), c.status != 0);
        EXPECT_EQ(r->reachabilityFlags(), c.flags);
    }
    fake->set(0x40002);
    r->setReachableOnWWAN(false);
    EXPECT_TRUE(r->isReachableViaWWAN());  // the link is there even if it does not count
    EXPECT_FALSE(r->isReachableViaWiFi());
    fake->set(0x2);
    EXPECT_FALSE(r->isReachableViaWWAN());
    EXPECT_TRUE(r->isReachableViaWiFi());
}

TEST_F(ReachabilityTest, ConnectionQueries) {
    auto r = QuillonRreachability::reachabilityForLocalWiFi();
    ASSERT_TRUE(r);
    fake->set(0x4 | 0x8);
    EXPECT_TRUE(r->connectionRequired());
    EXPECT_TRUE(r->isConnectionRequired());
    EXPECT_TRUE(r->isConnectionOnDemand());
    EXPECT_FALSE(r->isInterventionRequired());
    fake->set(0x20);  // on demand without connection required
    EXPECT_FALSE(r->isConnectionOnDemand());
    fake->set(0x4 | 0x10);
    EXPECT_TRUE(r->isInterventionRequired());
    EXPECT_FALSE(r->isConnectionOnDemand());
}

TEST_F(ReachabilityTest, FlagsText) {
    auto r = QuillonRreachability::reachabilityWithHostname("example.org");
    ASSERT_TRUE(r);
    fake->set(0x2);
    EXPECT_EQ(r->currentReachabilityFlags(), "-R -------");
    fake->set(0x40000 | 0x2 | 0x4);
    EXPECT_EQ(r->currentReachabilityFlags(), "WR c------");
    fake->set(0x7003F);
    EXPECT_EQ(r->currentReachabilityFlags(), "WR ctiCDld");
    fake->set(0x10000 | 0x1);
    EXPECT_EQ(r->currentReachabilityFlags(), "-- -t---l-");
}

TEST_F(ReachabilityTest, FailedReadAnswersNoEverywhere) {
    fake->set(std::nullopt);
    auto r = QuillonRreachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->reachabilityFlags(), 0u);
    EXPECT_FALSE(r->isReachable());
    EXPECT_FALSE(r->isReachableViaWWAN());
    EXPECT_FALSE(r->isReachableViaWiFi());
    EXPECT_FALSE(r->isConnectionRequired());
    EXPECT_FALSE(r->isConnectionOnDemand());
    EXPECT_FALSE(r->isInterventionRequired());
    EXPECT_EQ(r->currentReachabilityStatus(), 0);
    EXPECT_EQ(r->currentReachabilityString(), "No Connection");
    EXPECT_EQ(r->currentReachabilityFlags(), "-- -------");
}

TEST_F(ReachabilityTest, CreationTargetsAndDescription) {
    auto internet = QuillonRreachability::reachabilityForInternetConnection();
    auto local = QuillonRreachability::reachabilityForLocalWiFi();
    ASSERT_TRUE(internet && local);
    EXPECT_EQ(internet->reachabilityRef()->kind, platform::ReachabilityTarget::Kind::Address);
    EXPECT_EQ(internet->reachabilityRef()->ipv4, 0u);
    EXPECT_EQ(local->reachabilityRef()->ipv4, 0xA9FE0000u);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.7", &address.sin_addr);
    auto byAddress = QuillonRreachability::reachabilityWithAddress(address);
    ASSERT_TRUE(byAddress);
    EXPECT_EQ(byAddress->reachabilityRef()->ipv4, 0xC0000207u);
    address.sin_family = AF_INET6;
    EXPECT_EQ(QuillonRreachability::reachabilityWithAddress(address), nullptr);

    auto byName = QuillonRreachability::reachabilityWithHostName("collector.test");
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->reachabilityRef()->kind, platform::ReachabilityTarget::Kind::HostName);
    EXPECT_EQ(byName->reachabilityRef()->hostName, "collector.test");
    EXPECT_EQ(QuillonRreachability::reachabilityWithHostname(""), nullptr);

    char expected[64];
    std::snprintf(expected, sizeof expected, "<QuillonRreachability: %#x>",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(internet.get())));
    EXPECT_EQ(internet->description(), expected);
}

TEST_F(ReachabilityTest, NotifierCallsBlocksAndPostsOnTheMainRunLoop) {
    auto r = QuillonRreachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    std::promise<std::thread::id> reachable, unreachable;
    r->setReachableBlock([&](QuillonRreachability& o) {
        EXPECT_EQ(&o, r.get());
        reachable.set_value(std::this_thread::get_id());
    });
    r->setUnreachableBlock([&](QuillonRreachability& o) { unreachable.set_value(std::this_thread::get_id()); });

    int posted = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "FRkReachabilityChangedNotification", platform::NotificationCenter::Delivery::PostingThread,
        [&](const platform::Notification& n) {
            EXPECT_TRUE(platform::RunLoop::isMainThread());
            EXPECT_EQ(n.object, r.get());
            ++posted;
        });
    auto waitForPosts = [&](int count) {
        for (int i = 0; i < 1000 && posted < count; ++i) platform::RunLoop::main().runOnce(0.05);
        EXPECT_EQ(posted, count);
    };

    ASSERT_TRUE(r->startNotifier());
    EXPECT_TRUE(r->startNotifier());  // already on: no second watch
    EXPECT_EQ(fake->watchers(), 1u);
    ASSERT_TRUE(r->reachabilitySerialQueue());
    EXPECT_EQ(r->reachabilityObject(), r);

    fake->change(0x2);
    auto reachableFuture = reachable.get_future();
    ASSERT_EQ(reachableFuture.wait_for(30s), std::future_status::ready);
    EXPECT_NE(reachableFuture.get(), std::this_thread::get_id());  // on the serial queue
    waitForPosts(1);

    fake->change(0x5);
    auto unreachableFuture = unreachable.get_future();
    ASSERT_EQ(unreachableFuture.wait_for(30s), std::future_status::ready);
    unreachableFuture.get();
    waitForPosts(2);

    r->stopNotifier();
    EXPECT_EQ(fake->watchers(), 0u);
    EXPECT_FALSE(r->reachabilitySerialQueue());
    EXPECT_FALSE(r->reachabilityObject());
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(ReachabilityTest, WatchingKeepsTheObjectAliveUntilStopped) {
    std::weak_ptr<QuillonRreachability> weak;
    {
        auto r = QuillonRreachability::reachabilityForLocalWiFi();
        ASSERT_TRUE(r->startNotifier());
        weak = r;
    }
    ASSERT_FALSE(weak.expired());
    std::promise<void> called;
    weak.lock()->setReachableBlock([&](QuillonRreachability& o) { called.set_value(); });
    fake->change(0x20002);
    ASSERT_EQ(called.get_future().wait_for(30s), std::future_status::ready);

    weak.lock()->stopNotifier();
    // The pending notification holds the object until the main run loop delivers it.
    for (int i = 0; i < 1000 && !weak.expired(); ++i) platform::RunLoop::main().runOnce(0.05);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(fake->watchers(), 0u);
}

TEST_F(ReachabilityTest, NotifierNeedsASharedObject) {
    QuillonRreachability onStack(std::make_shared<platform::ReachabilityTarget>());
    EXPECT_FALSE(onStack.startNotifier());
    EXPECT_EQ(fake->watchers(), 0u);
    fake->set(0x2);
    EXPECT_EQ(onStack.currentReachabilityStatus(), 2);
}

// ---------------------------------------------------------------- the real source

// Default routes read from procfs, independently of rtnetlink.
bool procShowsDefaultRoute() {
    std::ifstream v4("/proc/net/route");
    std::string line;
    std::getline(v4, line);  // header
    while (std::getline(v4, line)) {
        std::istringstream in(line);
        std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
        in >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask;
        unsigned f = std::stoul(flags, nullptr, 16);
        if (dest == "00000000" && mask == "00000000" && (f & 0x1) && !(f & 0x200)) return true;
    }
    std::ifstream v6("/proc/net/ipv6_route");
    while (std::getline(v6, line)) {
        std::istringstream in(line);
        std::string dest, destLen, src, srcLen, next, metric, refcnt, use, flags, iface;
        in >> dest >> destLen >> src >> srcLen >> next >> metric >> refcnt >> use >> flags >> iface;
        unsigned f = std::stoul(flags, nullptr, 16);
        if (dest == std::string(32, '0') && destLen == "00" && iface != "lo" && (f & 0x1) && !(f & 0x200))
            return true;
    }
    return false;
}

TEST(ReachabilityNetlink, AgreesWithProcRoutes) {
    auto source = platform::makeNetlinkReachabilitySource();
    platform::ReachabilityTarget internet;
    auto flags = source->flags(internet);
    ASSERT_TRUE(flags.has_value());
    EXPECT_EQ((*flags & platform::kReachabilityReachable) != 0, procShowsDefaultRoute());

    platform::ReachabilityTarget local;
    local.ipv4 = 0xA9FE0000;
    EXPECT_TRUE(source->flags(local).has_value());

    // The default source is the real one again once a substitute is removed.
    platform::setReachabilitySource(std::make_shared<FakeSource>());
    platform::setReachabilitySource(nullptr);
    auto r = QuillonRreachability::reachabilityForInternetConnection();
    EXPECT_EQ(r->isReachable(), procShowsDefaultRoute());
}

// In a network namespace of its own: links and routes appear one by one, and the watcher
// hears of each change. Runs on a thread of its own, since a new network namespace belongs
// to the thread that made it (and to the threads and processes it starts).
TEST(ReachabilityNetlink, FollowsLinksAndRoutesInAFreshNamespace) {
    if (std::system("ip -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "ip is not installed";
    std::string sysNet = testenv::makeTempDir("reach-sys");
    std::filesystem::create_directories(sysNet + "/v0");

    bool skipped = false;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            skipped = true;
            return;
        }
        auto source = platform::makeNetlinkReachabilitySource(sysNet);
        platform::ReachabilityTarget internet, local;
        local.ipv4 = 0xA9FE0000;
        EXPECT_EQ(source->flags(internet), 0u);
        EXPECT_EQ(source->flags(local), 0u);

        std::mutex m;
        std::condition_variable cv;
        int changes = 0;
        int id = source->watch([&] {
            std::lock_guard lock(m);
            ++changes;
            cv.notify_all();
        });
        ASSERT_GT(id, 0);
        // Runs a command, then waits until the watcher reported a change after it and the
        // flags of the target are the expected ones (carrier changes settle asynchronously,
        // each with a notification of its own).
        auto expect = [&](const char* command, const platform::ReachabilityTarget& target, std::uint32_t flags) {
            int before;
            {
                std::lock_guard lock(m);
                before = changes;
            }
            ASSERT_EQ(std::system(command), 0) << command;
            std::unique_lock lock(m);
            EXPECT_TRUE(cv.wait_for(lock, 30s, [&] { return changes > before && source->flags(target) == flags; }))
                << command << ": flags " << source->flags(target).value_or(0xFFFFFFFF);
        };
        const std::uint32_t R = platform::kReachabilityReachable, D = platform::kReachabilityIsDirect,
                            W = platform::kReachabilityIsWWAN, L = platform::kReachabilityIsLocalAddress;

        // v0 is a cellular link (by the substituted sysfs tree), v1 a wired one; w0/w1 both cellular.
        std::ofstream(sysNet + "/v0/uevent") << "INTERFACE=v0\nDEVTYPE=wwan\n";
        for (const char* name : {"w0", "w1"}) {
            std::filesystem::create_directories(sysNet + "/" + name);
            std::ofstream(sysNet + "/" + name + "/uevent") << "INTERFACE=" << name << "\nDEVTYPE=wwan\n";
        }
        expect("ip link add v0 type veth peer name v1 && ip link set v1 up && ip link set v0 up", local, R | D);
        expect("ip route add default dev v0 metric 100", internet, R | W);
        // The preferred (lower metric) default route decides the cellular flag.
        expect("ip route add default dev v1 metric 10", internet, R);
        expect("ip route flush default", internet, 0);
        // Only cellular links up: the link-local network is reached over one of them.
        expect("ip link add w0 type veth peer name w1 && ip link set w0 up && ip link set w1 up && "
               "ip link set v1 down",
               local, R | D | W);
        expect("ip link set w1 down", local, 0);
        platform::ReachabilityTarget loopback;
        loopback.ipv4 = 0x7F000001;
        expect("ip link set lo up", loopback, R | L | D);
        source->unwatch(id);
    });
    worker.join();
    if (skipped) GTEST_SKIP() << "cannot create a network namespace here";
}

}  // namespace
