// Device records, identifier, carrier, send gate, location and the diagnostics snapshot,
// against substituted system sources.
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/net/Reachability.h"
#include "platform/system/DeviceIdentity.h"
#include "platform/system/Location.h"
#include "platform/system/SystemRoot.h"
#include "platform/system/Telephony.h"
#include "platform/ui/Screen.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonDiagnosticManager.h"
#include "reliclass/QuillonMyKeyChainHelper.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "support/FixedReachability.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <thread>
#include <string>
#include <vector>

namespace {

const std::regex kUUID("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

// A system tree with the given OS version and hardware model and nothing else (no battery).
std::string fakeSystem(const std::string& versionId, const std::string& model = "") {
    std::string root = testenv::makeTempDir("sysroot");
    platform::fs::createDirectories(root + "/etc");
    platform::fs::writeAtomically(root + "/etc/os-release", "ID=test\nVERSION_ID=\"" + versionId + "\"\n");
    if (!model.empty()) {
        platform::fs::createDirectories(root + "/proc/device-tree");
        platform::fs::writeAtomically(root + "/proc/device-tree/model", model + std::string(1, '\0'));
    }
    platform::sys::setSystemRootForTesting(root);
    return root;
}

void useBundle(const platform::Value& info) {
    std::string dir = testenv::makeTempDir("bundle");
    auto plist = platform::toXMLPropertyList(info);
    ASSERT_TRUE(plist);
    ASSERT_TRUE(platform::fs::writeAtomically(dir + "/Info.plist", *plist));
    platform::Bundle::main().reloadFrom(dir);
}

void useVendor(std::optional<std::string> id) {
    platform::device::setVendorIdentifierSourceForTesting([id](std::string_view) { return id; });
}

using FixedFlags = testenv::FixedReachability;
constexpr std::uint32_t kWiFi = platform::kReachabilityReachable;
constexpr std::uint32_t kCellular = platform::kReachabilityReachable | platform::kReachabilityIsWWAN;

class FixedCarrier : public platform::telephony::TelephonySource {
public:
    explicit FixedCarrier(std::optional<platform::telephony::CarrierInfo> info) : info_(std::move(info)) {}
    std::optional<platform::telephony::CarrierInfo> carrier() override {
        if (throws) throw std::runtime_error("modem went away");
        return info_;
    }
    bool throws = false;

private:
    std::optional<platform::telephony::CarrierInfo> info_;
};

class FixedLocation : public platform::location::LocationProvider {
public:
    FixedLocation(bool enabled, std::optional<platform::location::Coordinate> held) : enabled_(enabled), held_(held) {}
    bool servicesEnabled() override { return enabled_; }
    std::optional<platform::location::Coordinate> heldLocation() override { return held_; }

private:
    bool enabled_;
    std::optional<platform::location::Coordinate> held_;
};

std::vector<std::string> keysOf(const platform::Value& v) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : v.items()) keys.push_back(key);
    return keys;
}

}  // namespace

TEST(DeviceModel, TableMatchesExactStringsOnly) {
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPhone6,1"), "iPhone 5S");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPhone6,2"), "iPhone 5S");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPhone3,3"), "iPhone 4");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPhone7,1"), "iPhone 6 Plus");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPod1,1"), "iPod touch");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPad2,4"), "iPad 2");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPad2,5"), "ipad mini");
    EXPECT_EQ(QuillonDeviceInfo::modelName("iPad3,6"), "ipad 4");
    for (const char* unknown : {"iPhone8,1", "iphone6,1", "iPhone6,1 ", "iPhone6", "x86_64", ""}) {
        EXPECT_EQ(QuillonDeviceInfo::modelName(unknown), unknown);
    }
}

TEST(DeviceModel, ComesFromTheHardwareModelString) {
    fakeSystem("12", "iPhone7,2");
    EXPECT_EQ(QuillonDeviceInfo::getDeviceType(), "iPhone 6");
}

TEST(DeviceIdentifier, VendorIdentifierIsStoredAndStaysAuthoritative) {
    fakeSystem("12");
    useVendor("11111111-2222-3333-4444-555555555555");
    EXPECT_TRUE(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey").is_null());
    EXPECT_EQ(QuillonDeviceInfo::getDeviceUUID(), "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey"), "11111111-2222-3333-4444-555555555555");

    useVendor("AAAAAAAA-2222-3333-4444-555555555555");  // a later vendor identifier is ignored
    EXPECT_EQ(QuillonDeviceInfo::getDeviceUUID(), "11111111-2222-3333-4444-555555555555");
}

TEST(DeviceIdentifier, EmptyStoredValueIsReplaced) {
    fakeSystem("12");
    useVendor("11111111-2222-3333-4444-555555555555");
    QuillonMyKeyChainHelper::saveToken(platform::Value(""), "QNDeviceUUIDKey");
    EXPECT_EQ(QuillonDeviceInfo::getDeviceUUID(), "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey"), "11111111-2222-3333-4444-555555555555");
}

TEST(DeviceIdentifier, RandomWithoutVendorIdentifierOrOnOldSystems) {
    fakeSystem("12");
    useVendor("");
    auto id = QuillonDeviceInfo::getDeviceUUID();
    ASSERT_TRUE(id);
    EXPECT_TRUE(std::regex_match(*id, kUUID)) << *id;
    EXPECT_EQ(QuillonDeviceInfo::getDeviceUUID(), id);
    EXPECT_NE(QuillonDeviceInfo::createUUID(), QuillonDeviceInfo::createUUID());
}

TEST(DeviceIdentifier, OldSystemVersionIgnoresTheVendorIdentifier) {
    fakeSystem("5.1");
    useVendor("11111111-2222-3333-4444-555555555555");
    auto id = QuillonDeviceInfo::getDeviceUUID();
    ASSERT_TRUE(id);
    EXPECT_TRUE(std::regex_match(*id, kUUID));
    EXPECT_NE(*id, "11111111-2222-3333-4444-555555555555");
}

TEST(DeviceRecords, ReportRecordKeysTypesAndFallbacks) {
    fakeSystem("12", "iPad2,5");
    useVendor("11111111-2222-3333-4444-555555555555");
    useBundle({{"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "27"}, {"CFBundleExecutable", "Notes"},
               {"CFBundleIdentifier", "com.example.notes"}});
    QuillonReportDataUnit::shareStance().channel = "beta";
    platform::ui::Screen::main().setBounds(414.9, 736.6);
    platform::ui::Screen::main().setDeviceOrientation(platform::ui::kOrientationLandscapeLeft);

    platform::Value r = QuillonDeviceInfo::getDeviceInfo();
    EXPECT_EQ(keysOf(r), (std::vector<std::string>{"appnm", "pgn", "expid", "uuid", "und", "av", "on", "ov", "mt",
                                                   "chid", "ori", "sh", "sw", "loc"}));
    EXPECT_EQ(r["appnm"], "Notes");
    EXPECT_EQ(r["pgn"], "com.example.notes");
    EXPECT_EQ(r["expid"], "");
    EXPECT_EQ(r["uuid"], "");
    EXPECT_EQ(r["und"], "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(r["av"], "1.4(27)");
    EXPECT_TRUE(r["on"].is_number_integer());
    EXPECT_EQ(r["on"], 2);
    EXPECT_EQ(r["ov"], "12");
    EXPECT_EQ(r["mt"], "ipad mini");
    EXPECT_EQ(r["chid"], "beta");
    EXPECT_EQ(r["ori"], "landscape");
    EXPECT_TRUE(r["sh"].is_number_integer());
    EXPECT_EQ(r["sh"], 736);
    EXPECT_EQ(r["sw"], 414);
    // Location off in the configuration.
    EXPECT_EQ(keysOf(r["loc"]), (std::vector<std::string>{"lot", "lat"}));
    EXPECT_TRUE(r["loc"]["lat"].is_number_float());
    EXPECT_EQ(r["loc"]["lat"], 0.0);
    EXPECT_EQ(r["loc"]["lot"], 0.0);
}

TEST(DeviceRecords, MissingBundleKeysAndChannelFollowTextOrEmpty) {
    fakeSystem("12");
    useVendor(std::nullopt);
    useBundle({{"CFBundleVersion", "27"}});
    platform::Value r = QuillonDeviceInfo::getDeviceInfo();
    EXPECT_EQ(r["av"], "(null)(27)");
    EXPECT_EQ(r["appnm"], "");
    EXPECT_EQ(r["pgn"], "");
    EXPECT_EQ(r["chid"], "");

    useBundle({{"CFBundleShortVersionString", "1.4"}});
    platform::Value init = QuillonDeviceInfo::getDeviceInfoForInit();
    EXPECT_EQ(init["av"], "1.4((null))");
    EXPECT_EQ(init["an"], "");
    EXPECT_EQ(init["chid"], "");
}

TEST(DeviceRecords, ExtensionModeDescribesTheExtension) {
    fakeSystem("12");
    auto& config = QuillonConfiguration::shareConfiguration();
    config.appex = true;
    config.appexInfo = {{"CFBundleExecutable", "ShareExt"}, {"CFBundleIdentifier", "com.example.notes.share"},
                        {"UUID", nullptr}};
    platform::Value r = QuillonDeviceInfo::getDeviceInfo();
    EXPECT_EQ(r["appnm"], "ShareExt");
    EXPECT_EQ(r["pgn"], "com.example.notes.share");
    EXPECT_EQ(r["expid"], "");  // no extension point in the description
    EXPECT_EQ(r["uuid"], "");   // null counts as missing
    EXPECT_EQ(keysOf(r).size(), 14u);

    platform::Value info = config.appexInfo;
    info["NSExtensionPointIdentifier"] = "com.apple.share-services";
    info["UUID"] = "ABC";
    config.appexInfo = info;
    r = QuillonDeviceInfo::getDeviceInfo();
    EXPECT_EQ(r["expid"], "com.apple.share-services");
    EXPECT_EQ(r["uuid"], "ABC");

    // The registration record never uses extension mode.
    useBundle({{"CFBundleExecutable", "Notes"}});
    EXPECT_EQ(QuillonDeviceInfo::getDeviceInfoForInit()["an"], "Notes");
}

TEST(DeviceRecords, RegistrationAndConfigurationRecords) {
    fakeSystem("12", "iPhone6,2");
    useVendor("11111111-2222-3333-4444-555555555555");
    useBundle({{"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "27"}, {"CFBundleExecutable", "Notes"},
               {"CFBundleIdentifier", "com.example.notes"}});
    platform::ui::Screen::main().setBounds(320.5, 568);

    platform::Value init = QuillonDeviceInfo::getDeviceInfoForInit();
    EXPECT_EQ(keysOf(init), (std::vector<std::string>{"uuid", "und", "av", "on", "ov", "mt", "sv", "an", "pgn", "st",
                                                      "chid", "pro"}));
    EXPECT_EQ(init["uuid"], "");
    EXPECT_EQ(init["und"], "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(init["mt"], "iPhone 5S");
    EXPECT_EQ(init["sv"], "2.1.3");
    EXPECT_EQ(init["pro"], "5.2.0");
    EXPECT_EQ(init["st"], "1");
    EXPECT_EQ(init["on"], 2);

    QuillonConfiguration::shareConfiguration().cv = 7;
    platform::Value config = QuillonDeviceInfo::getDeviceInfoForConfig();
    EXPECT_EQ(keysOf(config), (std::vector<std::string>{"und", "mt", "ov", "on", "sv", "cv"}));
    EXPECT_TRUE(config["cv"].is_number_integer());
    EXPECT_EQ(config["cv"], 7);
    EXPECT_EQ(config["ov"], "12");
}

TEST(DeviceScreen, SizeClassAndOrientationNames) {
    auto& screen = platform::ui::Screen::main();
    EXPECT_EQ(QuillonDeviceInfo::getScreenSize(), "2");  // the headless 375-point screen
    EXPECT_EQ(QuillonDeviceInfo::getScreenOrientation(), "portrait");
    screen.setBounds(320.99, 480);
    EXPECT_EQ(QuillonDeviceInfo::getScreenSize(), "1");
    screen.setBounds(414, 736);
    EXPECT_EQ(QuillonDeviceInfo::getScreenSize(), "2");
    const std::pair<int, const char*> names[] = {{0, "undefined"}, {1, "portrait"},  {2, "portrait"}, {3, "landscape"},
                                                 {4, "landscape"}, {5, "undefined"}, {6, "undefined"}, {9, "undefined"}};
    for (auto [orientation, name] : names) {
        screen.setDeviceOrientation(orientation);
        EXPECT_EQ(QuillonDeviceInfo::getScreenOrientation(), name) << orientation;
    }
}

TEST(SendGate, WiFiOnlyHonoursTheReachabilityStatus) {
    auto& config = QuillonConfiguration::shareConfiguration();
    struct Case {
        std::uint32_t flags;
        bool wifiOnly;
        bool expected;
    } cases[] = {{kWiFi, false, true},  {kCellular, false, true},  {0, false, false},
                 {kWiFi, true, true},   {kCellular, true, false},  {0, true, false},
                 {platform::kReachabilityIsWWAN, false, false}};
    for (const Case& c : cases) {
        platform::setReachabilitySource(std::make_shared<FixedFlags>(c.flags));
        config.reportOnlyWIFI = c.wifiOnly;
        EXPECT_EQ(QuillonDeviceInfo::isReachableNetWork(), c.expected) << std::hex << c.flags << " " << c.wifiOnly;
    }
    platform::setReachabilitySource(nullptr);
}

TEST(CarrierRecord, NetworkTypeAndCodes) {
    fakeSystem("12");
    auto lte = std::make_shared<FixedCarrier>(platform::telephony::CarrierInfo{"262", "01", "CTRadioAccessTechnologyLTE"});
    platform::telephony::setTelephonySourceForTesting(lte);

    platform::setReachabilitySource(std::make_shared<FixedFlags>(kWiFi));
    platform::Value wifi = QuillonDeviceInfo::getCarrierInfo();
    EXPECT_EQ(keysOf(wifi), (std::vector<std::string>{"nt", "isp"}));
    EXPECT_EQ(wifi["nt"], "1");
    EXPECT_EQ(wifi["isp"], "26201");

    platform::setReachabilitySource(std::make_shared<FixedFlags>(kCellular));
    EXPECT_EQ(QuillonDeviceInfo::getCarrierInfo()["nt"], "0/CTRadioAccessTechnologyLTE");

    platform::telephony::setTelephonySourceForTesting(
        std::make_shared<FixedCarrier>(platform::telephony::CarrierInfo{"310", std::nullopt, std::nullopt}));
    platform::Value partial = QuillonDeviceInfo::getCarrierInfo();
    EXPECT_EQ(partial["nt"], "0/(null)");
    EXPECT_EQ(partial["isp"], "310");

    // No modem at all.
    platform::telephony::setTelephonySourceForTesting(std::make_shared<FixedCarrier>(std::nullopt));
    platform::setReachabilitySource(std::make_shared<FixedFlags>(0));
    platform::Value none = QuillonDeviceInfo::getCarrierInfo();
    EXPECT_EQ(none["nt"], "0/(null)");
    EXPECT_EQ(none["isp"], "");

    // A failing source is an internal error: no record.
    lte->throws = true;
    platform::telephony::setTelephonySourceForTesting(lte);
    EXPECT_TRUE(QuillonDeviceInfo::getCarrierInfo().is_null());
    platform::telephony::setTelephonySourceForTesting(nullptr);
    platform::setReachabilitySource(nullptr);
}

TEST(CarrierRecord, OldSystemsGiveNoTechnology) {
    fakeSystem("6.1");
    platform::telephony::setTelephonySourceForTesting(
        std::make_shared<FixedCarrier>(platform::telephony::CarrierInfo{"262", "01", "CTRadioAccessTechnologyLTE"}));
    platform::setReachabilitySource(std::make_shared<FixedFlags>(kCellular));
    EXPECT_EQ(QuillonDeviceInfo::getCarrierInfo()["nt"], "0");
    platform::telephony::setTelephonySourceForTesting(nullptr);
    platform::setReachabilitySource(nullptr);
}

TEST(Location, OnlyAnEnabledProviderWithAHeldLocationCounts) {
    auto& config = QuillonConfiguration::shareConfiguration();
    auto locate = [] {
        int calls = 0;
        std::pair<double, double> got{-1, -1};
        QuillonDeviceInfo::currentLocation([&](double lat, double lon) {
            ++calls;
            got = {lat, lon};
        });
        EXPECT_EQ(calls, 1);
        return got;
    };
    platform::location::setProvider(std::make_shared<FixedLocation>(true, platform::location::Coordinate{52.5, 13.4}));
    config.useLocationInfo = false;
    EXPECT_EQ(locate(), std::make_pair(0.0, 0.0));

    config.useLocationInfo = true;
    EXPECT_EQ(locate(), std::make_pair(52.5, 13.4));
    platform::Value r = QuillonDeviceInfo::getDeviceInfo();
    EXPECT_EQ(r["loc"]["lat"], 52.5);
    EXPECT_EQ(r["loc"]["lot"], 13.4);

    platform::location::setProvider(std::make_shared<FixedLocation>(true, std::nullopt));
    EXPECT_EQ(locate(), std::make_pair(0.0, 0.0));
    platform::location::setProvider(std::make_shared<FixedLocation>(false, platform::location::Coordinate{1, 2}));
    EXPECT_EQ(locate(), std::make_pair(0.0, 0.0));
    platform::location::setProvider(nullptr);  // no provider on this machine
    EXPECT_EQ(locate(), std::make_pair(0.0, 0.0));
}

TEST(Language, ZhHansIsZero) {
    setenv("LANGUAGE", "zh_CN:en_US", 1);
    EXPECT_EQ(QuillonDeviceInfo::getSysLanguage(), "0");
    setenv("LANGUAGE", "zh_TW", 1);
    EXPECT_EQ(QuillonDeviceInfo::getSysLanguage(), "1");
    unsetenv("LANGUAGE");
    setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(QuillonDeviceInfo::preferredLanguage(), "en-GB");
    EXPECT_EQ(QuillonDeviceInfo::getSysLanguage(), "1");
}

TEST(ResourceMetrics, FormatsAndUnavailableBattery) {
    fakeSystem("12");  // no power supply in the tree
    const std::regex integer("-?[0-9]+"), unsignedInteger("[0-9]+"), sixDecimals("-?[0-9]+\\.[0-9]{6}");
    auto total = QuillonDeviceInfo::totalDiskSpaceInBytes();  // Documents does not exist yet
    ASSERT_TRUE(total);
    EXPECT_TRUE(std::regex_match(*total, integer));
    EXPECT_GT(std::stoll(*total), 0);
    auto free = QuillonDeviceInfo::freeDiskSpaceInBytes();
    ASSERT_TRUE(free);
    EXPECT_TRUE(std::regex_match(*free, integer));
    EXPECT_EQ(QuillonDeviceInfo::batteryLevel(), "-1.000000");
    auto virt = QuillonDeviceInfo::memoryTotal();
    ASSERT_TRUE(virt);
    EXPECT_TRUE(std::regex_match(*virt, unsignedInteger));
    EXPECT_TRUE(std::regex_match(QuillonDeviceInfo::memoryUsage(), unsignedInteger));
    EXPECT_GE(std::stoull(*virt), std::stoull(QuillonDeviceInfo::memoryUsage()));
    auto cpu = QuillonDeviceInfo::cpuUsagePercent();
    ASSERT_TRUE(cpu);
    EXPECT_TRUE(std::regex_match(*cpu, sixDecimals)) << *cpu;
}

TEST(Diagnostics, SnapshotHasFiveOneElementArrays) {
    fakeSystem("12");
    platform::Value snapshot = QuillonDiagnosticManager::defaultManager().getDiagnosticInfo();
    EXPECT_EQ(keysOf(snapshot), (std::vector<std::string>{"tssd", "assd", "pow", "mem", "cpu"}));
    for (const auto& [key, value] : snapshot.items()) {
        ASSERT_TRUE(value.is_array()) << key;
        ASSERT_EQ(value.size(), 1u) << key;
        EXPECT_TRUE(value[0].is_string()) << key;
    }
    EXPECT_EQ(snapshot["pow"][0], "-1.000000");
    EXPECT_EQ(&QuillonDiagnosticManager::defaultManager(), &QuillonDiagnosticManager::defaultManager());
}

TEST(DeviceIdentifier, ConcurrentFirstUseAgreesOnOneIdentifier) {
    fakeSystem("12");
    useVendor(std::nullopt);  // random identifiers: a race would store two different ones
    std::vector<std::optional<std::string>> ids(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ids.size(); ++i) threads.emplace_back([&ids, i] { ids[i] = QuillonDeviceInfo::getDeviceUUID(); });
    for (auto& t : threads) t.join();
    for (const auto& id : ids) EXPECT_EQ(id, ids[0]);
    EXPECT_EQ(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey"), *ids[0]);
}
