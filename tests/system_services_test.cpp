// The system services behind device information: each real source, its fallbacks, and the
// "not available" answers of machines without battery, modem or DMI.
#include "platform/foundation/Files.h"
#include "platform/system/Battery.h"
#include "platform/system/DeviceIdentity.h"
#include "platform/system/ProcessMetrics.h"
#include "platform/system/SystemRoot.h"
#include "platform/system/Telephony.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A made-up system tree that the services read instead of the real one.
class FakeRoot {
public:
    FakeRoot() : root_(testenv::makeTempDir("sysroot")) { platform::sys::setSystemRootForTesting(root_); }
    ~FakeRoot() { platform::sys::setSystemRootForTesting(""); }
    void write(const std::string& path, const std::string& content) {
        std::string full = root_ + path;
        ASSERT_TRUE(platform::fs::createDirectories(platform::fs::deletingLastPathComponent(full)));
        ASSERT_TRUE(platform::fs::writeAtomically(full, content));
    }
    void remove(const std::string& path) { platform::fs::removeFile(root_ + path); }

private:
    std::string root_;
};

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

TEST(HardwareModel, DeviceTreeThenDmiThenUname) {
    FakeRoot root;
    EXPECT_EQ(platform::device::hardwareModel(), platform::device::unameMachine());  // none of them

    root.write("/sys/class/dmi/id/product_name", "   \n");  // blank counts as missing
    EXPECT_EQ(platform::device::hardwareModel(), platform::device::unameMachine());

    root.write("/sys/class/dmi/id/product_name", "ThinkPad X1 Carbon\n");
    EXPECT_EQ(platform::device::hardwareModel(), "ThinkPad X1 Carbon");

    root.write("/proc/device-tree/model", std::string("Raspberry Pi 4 Model B Rev 1.4\0junk", 35));
    EXPECT_EQ(platform::device::hardwareModel(), "Raspberry Pi 4 Model B Rev 1.4");
}

TEST(OSVersion, ShellQuotingAndFallbackFile) {
    using platform::device::osReleaseValue;
    EXPECT_EQ(osReleaseValue("NAME=Debian\nVERSION_ID=\"12\"\n", "VERSION_ID"), "12");
    EXPECT_EQ(osReleaseValue("VERSION_ID='22.04'", "VERSION_ID"), "22.04");
    EXPECT_EQ(osReleaseValue("VERSION_ID=3.19.1 # comment", "VERSION_ID"), "3.19.1");
    EXPECT_EQ(osReleaseValue(R"(VERSION_ID="a\"b\\c\$d")", "VERSION_ID"), R"(a"b\c$d)");
    EXPECT_EQ(osReleaseValue("X_VERSION_ID=1\nVERSION_IDX=2\n", "VERSION_ID"), std::nullopt);

    FakeRoot root;
    EXPECT_EQ(platform::device::osVersion(), std::nullopt);
    root.write("/usr/lib/os-release", "ID=x\nVERSION_ID=\"7.1\"\n");
    EXPECT_EQ(platform::device::osVersion(), "7.1");
    root.write("/etc/os-release", "ID=y\nVERSION_ID=9\n");  // /etc wins when present
    EXPECT_EQ(platform::device::osVersion(), "9");
    root.write("/etc/os-release", "ID=rolling\n");  // present without a version: no fallback
    EXPECT_EQ(platform::device::osVersion(), std::nullopt);
}

TEST(VendorIdentifier, StablePerMachineAndVendor) {
    sd_id128_t machine;
    if (sd_id128_get_machine(&machine) < 0) GTEST_SKIP() << "no machine id on this system";
    using platform::device::vendorIdentifier;
    auto a = vendorIdentifier("com.example.mail");
    ASSERT_TRUE(a);
    EXPECT_TRUE(std::regex_match(*a, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"))) << *a;
    EXPECT_EQ(vendorIdentifier("com.example.mail"), a);
    EXPECT_EQ(vendorIdentifier("com.example.calendar"), a);  // same vendor
    EXPECT_NE(vendorIdentifier("org.other.mail"), a);
    EXPECT_EQ(platform::device::vendorOf("com.example.mail"), "com.example");
    EXPECT_EQ(platform::device::vendorOf("tool"), "tool");
    EXPECT_EQ(vendorIdentifier(""), std::nullopt);
}

TEST(Battery, FirstSystemBatteryAndItsFallbacks) {
    FakeRoot root;
    auto none = platform::battery::status();
    EXPECT_EQ(none.level, -1.0);  // no power_supply directory at all
    EXPECT_EQ(none.state, platform::battery::State::Unknown);

    root.write("/sys/class/power_supply/AC/type", "Mains\n");
    root.write("/sys/class/power_supply/AC/online", "1\n");
    root.write("/sys/class/power_supply/hidpp_battery_0/type", "Battery\n");
    root.write("/sys/class/power_supply/hidpp_battery_0/scope", "Device\n");
    root.write("/sys/class/power_supply/hidpp_battery_0/capacity", "10\n");
    EXPECT_EQ(platform::battery::status().level, -1.0);  // mains and a mouse are no battery

    root.write("/sys/class/power_supply/BAT1/type", "Battery\n");
    root.write("/sys/class/power_supply/BAT1/energy_now", "30000000\n");
    root.write("/sys/class/power_supply/BAT1/energy_full", "40000000\n");
    root.write("/sys/class/power_supply/BAT1/status", "Discharging\n");
    auto bat1 = platform::battery::status();
    EXPECT_DOUBLE_EQ(bat1.level, 0.75);
    EXPECT_EQ(bat1.state, platform::battery::State::Unplugged);

    root.write("/sys/class/power_supply/BAT0/type", "Battery\n");
    root.write("/sys/class/power_supply/BAT0/capacity", "57\n");
    root.write("/sys/class/power_supply/BAT0/status", "Charging\n");
    auto bat0 = platform::battery::status();  // first in name order
    EXPECT_DOUBLE_EQ(bat0.level, 0.57);
    EXPECT_EQ(bat0.state, platform::battery::State::Charging);

    root.write("/sys/class/power_supply/BAT0/capacity", "unknown\n");
    root.write("/sys/class/power_supply/BAT0/status", "Full\n");
    auto unknownLevel = platform::battery::status();
    EXPECT_EQ(unknownLevel.level, -1.0);
    EXPECT_EQ(unknownLevel.state, platform::battery::State::Full);
}

TEST(ProcessMetrics, FileSystemsAndMemory) {
    auto root = platform::metrics::fileSystemSize("/");
    ASSERT_TRUE(root);
    EXPECT_GT(root->blockSize, 0u);
    EXPECT_GE(root->blocks, root->freeBlocks);
    EXPECT_FALSE(platform::metrics::fileSystemSize("/no/such/directory/here"));

    auto before = platform::metrics::processMemory();
    ASSERT_TRUE(before);
    EXPECT_GE(before->virtualBytes, before->residentBytes);
    // Touching 64 MiB makes it resident.
    std::vector<char> block(64u << 20, 1);
    auto after = platform::metrics::processMemory();
    ASSERT_TRUE(after);
    EXPECT_GE(after->residentBytes, before->residentBytes + (48u << 20)) << static_cast<int>(block[100]);
}

namespace {
struct Workers {
    explicit Workers(int n, bool busy) {
        for (int i = 0; i < n; ++i) {
            threads.emplace_back([this, busy] {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    tids.push_back(gettid());
                    clockid_t c;
                    pthread_getcpuclockid(pthread_self(), &c);
                    clocks.push_back(c);
                }
                cv.notify_all();
                if (busy) {
                    while (!stop.load(std::memory_order_relaxed)) {
                    }
                } else {
                    std::unique_lock<std::mutex> lock(mutex);
                    cv.wait(lock, [this] { return stop.load(); });
                }
            });
        }
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return static_cast<int>(tids.size()) == n; });
    }
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        cv.notify_all();
        for (auto& t : threads) t.join();
    }
    // Waits until every worker has used `cpu` more seconds of processor time than at `from`.
    std::vector<double> cpuTimes() {
        std::vector<double> out;
        for (clockid_t c : clocks) out.push_back(seconds(c));
        return out;
    }
    void waitForCpu(const std::vector<double>& from, double cpu) {
        for (;;) {
            auto now = cpuTimes();
            bool done = true;
            for (size_t i = 0; i < now.size(); ++i) done = done && now[i] - from[i] >= cpu;
            if (done) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    static double shareOf(const std::vector<platform::metrics::ThreadCpu>& shares, pid_t tid) {
        for (const auto& s : shares)
            if (s.tid == tid) return s.share;
        ADD_FAILURE() << "thread " << tid << " missing";
        return -1;
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::atomic<bool> stop{false};
    std::vector<pid_t> tids;
    std::vector<clockid_t> clocks;
    std::vector<std::thread> threads;
};
}  // namespace

TEST(ProcessCpu, BusyThreadsCountTheirRecentShareOfAProcessor) {
    Workers busy(2, true);
    busy.waitForCpu(std::vector<double>(2, 0.0), 0.1);
    ASSERT_TRUE(platform::metrics::threadCpuShares());  // baseline

    auto cpu0 = busy.cpuTimes();
    double wall0 = seconds(CLOCK_BOOTTIME);
    busy.waitForCpu(cpu0, 0.4);
    auto shares = platform::metrics::threadCpuShares();
    double wall1 = seconds(CLOCK_BOOTTIME);
    auto cpu1 = busy.cpuTimes();
    ASSERT_TRUE(shares);

    // Compared with each thread's own clock over the same window (on an idle two-processor
    // machine each is close to 1.0 and the total close to 2.0).
    double expectedTotal = 0, total = 0;
    for (size_t i = 0; i < 2; ++i) {
        double expected = (cpu1[i] - cpu0[i]) / (wall1 - wall0);
        double share = Workers::shareOf(*shares, busy.tids[i]);
        EXPECT_NEAR(share, expected, 0.15) << "thread " << i;
        expectedTotal += expected;
        total += share;
    }
    auto usage = platform::metrics::processCpuUsage();  // within the window: the same shares
    ASSERT_TRUE(usage);
    EXPECT_GE(*usage, total - 0.05);
    EXPECT_NEAR(total, expectedTotal, 0.25);
}

TEST(ProcessCpu, BlockedThreadsCountZero) {
    Workers idle(3, false);
    auto first = platform::metrics::threadCpuShares();  // lifetime averages
    ASSERT_TRUE(first);
    for (pid_t tid : idle.tids) EXPECT_EQ(Workers::shareOf(*first, tid), 0.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // one measuring window
    auto second = platform::metrics::threadCpuShares();
    ASSERT_TRUE(second);
    for (pid_t tid : idle.tids) EXPECT_EQ(Workers::shareOf(*second, tid), 0.0);
    EXPECT_GE(second->size(), 4u);
}

TEST(ProcessCpu, ThreadsThatEndedAreForgotten) {
    pid_t gone = 0;
    std::thread([&] { gone = gettid(); }).join();
    auto shares = platform::metrics::threadCpuShares();
    ASSERT_TRUE(shares);
    for (const auto& s : *shares) {
        EXPECT_NE(s.tid, gone);
        EXPECT_GE(s.share, 0.0);
        EXPECT_LE(s.share, 1.0);
    }
}

TEST(Telephony, RadioTechnologyNames) {
    using platform::telephony::radioTechnologyName;
    EXPECT_EQ(radioTechnologyName(0), std::nullopt);
    EXPECT_EQ(radioTechnologyName(1u << 1), std::nullopt);  // plain GSM has no name
    EXPECT_EQ(radioTechnologyName(1u << 14), "CTRadioAccessTechnologyLTE");
    EXPECT_EQ(radioTechnologyName((1u << 14) | (1u << 5)), "CTRadioAccessTechnologyLTE");  // best one
    EXPECT_EQ(radioTechnologyName(1u << 15), "CTRadioAccessTechnologyNR");
    EXPECT_EQ(radioTechnologyName(1u << 5), "CTRadioAccessTechnologyWCDMA");
    EXPECT_EQ(radioTechnologyName(1u << 4), "CTRadioAccessTechnologyEdge");
}

TEST(Telephony, NoSystemBusIsNotAvailable) {
    auto source = platform::telephony::makeModemManagerSource("unix:path=/nonexistent/system_bus_socket");
    EXPECT_EQ(source->carrier(), std::nullopt);
    platform::telephony::setTelephonySourceForTesting(source);
    auto info = platform::telephony::carrierInfo();
    platform::telephony::setTelephonySourceForTesting(nullptr);
    EXPECT_FALSE(info.mobileCountryCode);
    EXPECT_FALSE(info.mobileNetworkCode);
    EXPECT_FALSE(info.radioAccessTechnology);
}

namespace {

// A message bus of the test's own (dbus-daemon), standing in for the system bus.
class PrivateBus {
public:
    PrivateBus() {
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) return;
        std::string dir = testenv::makeTempDir("bus");
        address_ = "unix:path=" + dir + "/bus";
        std::string config = dir + "/bus.conf";
        platform::fs::writeAtomically(
            config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>custom</type><listen>" + address_ + "</listen><auth>EXTERNAL</auth>\n"
            "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            std::string fd = std::to_string(ready[1]);
            execl("/usr/bin/dbus-daemon", "dbus-daemon", "--nofork", ("--config-file=" + config).c_str(),
                  ("--print-address=" + fd).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        char printed[512] = {};
        running_ = read(ready[0], printed, sizeof printed - 1) > 0;  // printed once it listens
        close(ready[0]);
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return running_; }
    const std::string& address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = -1;
    bool running_ = false;
};

// A ModemManager with one LTE modem whose SIM belongs to 262 01, served on its own thread.
class FakeModemManager {
public:
    explicit FakeModemManager(const std::string& address) {
        sd_bus_new(&bus_);
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        ok_ = sd_bus_start(bus_) >= 0 &&
              sd_bus_add_object(bus_, nullptr, "/org/freedesktop/ModemManager1", &FakeModemManager::objects, nullptr) >= 0 &&
              sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/ModemManager1/SIM/0",
                                       "org.freedesktop.ModemManager1.Sim", kSimVtable, nullptr) >= 0 &&
              sd_bus_request_name(bus_, "org.freedesktop.ModemManager1", 0) >= 0;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                int r = sd_bus_process(bus_, nullptr);
                if (r < 0) break;
                if (r == 0) sd_bus_wait(bus_, 20000);
            }
        });
    }
    ~FakeModemManager() {
        stop_ = true;
        thread_.join();
        sd_bus_flush_close_unref(bus_);
    }
    bool ok() const { return ok_; }

private:
    static int objects(sd_bus_message* m, void*, sd_bus_error*) {
        if (!sd_bus_message_is_method_call(m, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects")) return 0;
        sd_bus_message* reply = nullptr;
        sd_bus_message_new_method_return(m, &reply);
        sd_bus_message_open_container(reply, 'a', "{oa{sa{sv}}}");
        sd_bus_message_open_container(reply, 'e', "oa{sa{sv}}");
        sd_bus_message_append(reply, "o", "/org/freedesktop/ModemManager1/Modem/0");
        sd_bus_message_open_container(reply, 'a', "{sa{sv}}");
        sd_bus_message_open_container(reply, 'e', "sa{sv}");
        sd_bus_message_append(reply, "s", "org.freedesktop.ModemManager1.Modem.Modem3gpp");
        sd_bus_message_append(reply, "a{sv}", 1, "OperatorCode", "s", "26202");
        sd_bus_message_close_container(reply);
        sd_bus_message_open_container(reply, 'e', "sa{sv}");
        sd_bus_message_append(reply, "s", "org.freedesktop.ModemManager1.Modem");
        sd_bus_message_append(reply, "a{sv}", 4, "Manufacturer", "s", "Quectel", "AccessTechnologies", "u",
                              (1u << 14) | (1u << 5), "Sim", "o", "/org/freedesktop/ModemManager1/SIM/0",
                              "SupportedBands", "au", 2, 1u, 2u);
        sd_bus_message_close_container(reply);
        sd_bus_message_close_container(reply);
        sd_bus_message_close_container(reply);
        sd_bus_message_close_container(reply);
        int r = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r < 0 ? r : 1;
    }
    static int operatorIdentifier(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                                  sd_bus_error*) {
        return sd_bus_message_append(reply, "s", "26201");
    }
    static constexpr sd_bus_vtable kSimVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("OperatorIdentifier", "s", &FakeModemManager::operatorIdentifier, 0,
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_VTABLE_END,
    };

    sd_bus* bus_ = nullptr;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

TEST(Telephony, BusWithoutModemManagerIsNotAvailable) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon not available";
    auto source = platform::telephony::makeModemManagerSource(bus.address());
    EXPECT_EQ(source->carrier(), std::nullopt);
    // Remembered: a ModemManager appearing now is not asked for a while.
    FakeModemManager manager(bus.address());
    ASSERT_TRUE(manager.ok());
    EXPECT_EQ(source->carrier(), std::nullopt);
}

TEST(Telephony, ModemManagerModemAndSim) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon not available";
    FakeModemManager manager(bus.address());
    ASSERT_TRUE(manager.ok());
    auto info = platform::telephony::makeModemManagerSource(bus.address())->carrier();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->mobileCountryCode, "262");
    EXPECT_EQ(info->mobileNetworkCode, "01");
    EXPECT_EQ(info->radioAccessTechnology, "CTRadioAccessTechnologyLTE");
}

TEST(Telephony, SubstitutedSourceIsUsed) {
    struct Fixed : platform::telephony::TelephonySource {
        std::optional<platform::telephony::CarrierInfo> carrier() override {
            return platform::telephony::CarrierInfo{"262", "01", "CTRadioAccessTechnologyLTE"};
        }
    };
    platform::telephony::setTelephonySourceForTesting(std::make_shared<Fixed>());
    auto info = platform::telephony::carrierInfo();
    platform::telephony::setTelephonySourceForTesting(nullptr);
    EXPECT_EQ(info.mobileCountryCode, "262");
    EXPECT_EQ(info.mobileNetworkCode, "01");
}
