// The feedback device record and the network-status code, with substituted links and modem.
#include "Wren/WrenDeviceInfo.h"
#include "platform/ui/Screen.h"
#include "support/FeedbackEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>

using platform::Value;

namespace {

class WrenDeviceInfoTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::setReachabilitySource(nullptr);
        platform::telephony::setTelephonySourceForTesting(nullptr);
        platform::ui::Screen::main().reset();
    }
};

TEST_F(WrenDeviceInfoTest, StatusAndRecordTypeFollowLinkAndModemTechnology) {
    struct Case {
        testenv::Link link;
        std::optional<std::string> rat;
        int status;
        int type;
    };
    const Case cases[] = {
        {testenv::Link::WiFi, "CTRadioAccessTechnologyLTE", 5, 1},  // Wi-Fi wins over the modem
        {testenv::Link::None, "CTRadioAccessTechnologyLTE", 0, 0},
        {testenv::Link::Cellular, "CTRadioAccessTechnologyEdge", 1, 2},
        {testenv::Link::Cellular, "CTRadioAccessTechnologyHSDPA", 2, 3},
        {testenv::Link::Cellular, "CTRadioAccessTechnologyLTE", 3, 4},
        {testenv::Link::Cellular, "CTRadioAccessTechnologyNR", 4, 5},
        {testenv::Link::Cellular, std::nullopt, 6, 2},  // no technology known
    };
    for (const auto& c : cases) {
        testenv::useLink(c.link);
        testenv::useModem("262", "01", c.rat);
        EXPECT_EQ(WrenDeviceInfo::networkStatus(), c.status) << c.rat.value_or("none");
        EXPECT_EQ(WrenDeviceInfo::deviceCurrentInfo()["network"]["type"], c.type) << c.rat.value_or("none");
    }
    EXPECT_EQ(WrenDeviceInfo::dataNetworkType("CTRadioAccessTechnologyCDMAEVDORevB"), 2);
    EXPECT_EQ(WrenDeviceInfo::dataNetworkType("something new"), 0);
    EXPECT_EQ(WrenDeviceInfo::networkType(9), 0);
}

TEST_F(WrenDeviceInfoTest, RecordLayoutTypesAndCarrierBlock) {
    testenv::useLink(testenv::Link::Cellular);
    testenv::useModem("262", "01", "CTRadioAccessTechnologyLTE");
    platform::ui::Screen::main().setDeviceOrientation(platform::ui::kOrientationPortraitUpsideDown);
    const Value r = WrenDeviceInfo::deviceCurrentInfo();

    std::vector<std::string> keys;
    for (auto it = r.begin(); it != r.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"und", "model", "sysver", "sysname", "ram", "rom", "network", "battery",
                                              "power", "jailbreak", "rotate", "location"}));
    EXPECT_TRUE(r["und"].is_string());
    EXPECT_FALSE(r["und"].get<std::string>().empty());
    EXPECT_TRUE(r["model"].is_string());
    EXPECT_EQ(r["sysname"], 1);
    for (const char* k : {"ram", "rom"}) {
        EXPECT_TRUE(r[k]["total"].is_number_integer()) << k;
        EXPECT_TRUE(r[k]["free"].is_number_integer()) << k;
    }
    EXPECT_GT(r["rom"]["total"].get<std::int64_t>(), 0);
    EXPECT_TRUE(r["battery"].is_number_float());
    EXPECT_TRUE(r["power"].is_boolean());
    EXPECT_EQ(r["jailbreak"], false);
    EXPECT_EQ(r["rotate"], 2);
    EXPECT_TRUE(r["location"]["lot"].is_number());
    EXPECT_TRUE(r["location"]["lat"].is_number());

    const Value& carrier = r["network"]["carrier"];
    EXPECT_EQ(carrier["isp"], "26201");
    const bool withTechnology = std::atof(r["sysver"].get<std::string>().c_str()) >= 7.0;
    EXPECT_EQ(carrier["type"], withTechnology ? "4/CTRadioAccessTechnologyLTE" : "4");

    // No SIM, no service: empty codes and the missing-object text after the slash.
    testenv::useModem(std::nullopt, std::nullopt, std::nullopt);
    const Value none = WrenDeviceInfo::deviceCurrentInfo()["network"]["carrier"];
    EXPECT_EQ(none["isp"], "");
    EXPECT_EQ(none["type"], withTechnology ? "2/(null)" : "2");

    for (auto [orientation, rotate] : {std::pair{1, 2}, {3, 1}, {4, 1}, {5, 0}, {6, 0}, {0, 0}}) {
        platform::ui::Screen::main().setDeviceOrientation(orientation);
        EXPECT_EQ(WrenDeviceInfo::deviceCurrentInfo()["rotate"], rotate) << orientation;
    }
}

}  // namespace
