#include "Wren/WrenDeviceInfo.h"

#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/system/Battery.h"
#include "platform/system/Telephony.h"
#include "platform/ui/Screen.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonRreachability.h"

#include <cstdlib>
#include <cstring>

namespace {

std::int64_t int64Of(const std::optional<std::string>& text) {
    return text ? std::strtoll(text->c_str(), nullptr, 10) : 0;
}

int reachabilityStatus(const std::shared_ptr<QuillonRreachability>& r) { return r ? r->currentReachabilityStatus() : 0; }

}  // namespace

int WrenDeviceInfo::dataNetworkType(const std::optional<std::string>& rat) {
    if (!rat) return 0;
    static const std::pair<const char*, int> kTypes[] = {
        {"CTRadioAccessTechnologyGPRS", 1},
        {"CTRadioAccessTechnologyEdge", 1},
        {"CTRadioAccessTechnologyCDMA1x", 1},
        {"CTRadioAccessTechnologyWCDMA", 2},
        {"CTRadioAccessTechnologyHSDPA", 2},
        {"CTRadioAccessTechnologyHSUPA", 2},
        {"CTRadioAccessTechnologyCDMAEVDORev0", 2},
        {"CTRadioAccessTechnologyCDMAEVDORevA", 2},
        {"CTRadioAccessTechnologyCDMAEVDORevB", 2},
        {"CTRadioAccessTechnologyeHRPD", 2},
        {"CTRadioAccessTechnologyLTE", 3},
        {"CTRadioAccessTechnologyNRNSA", 4},
        {"CTRadioAccessTechnologyNR", 4},
    };
    for (const auto& [name, type] : kTypes) {
        if (*rat == name) return type;
    }
    return 0;
}

int WrenDeviceInfo::getNetworkTypeFromStatusBar() {
    return dataNetworkType(platform::telephony::carrierInfo().radioAccessTechnology);
}

int WrenDeviceInfo::networkStatus() {
    if (reachabilityStatus(QuillonRreachability::reachabilityForLocalWiFi()) != 0) return 5;
    if (reachabilityStatus(QuillonRreachability::reachabilityForInternetConnection()) == 0) return 0;
    const int t = getNetworkTypeFromStatusBar();
    return t == 0 ? 6 : t;
}

int WrenDeviceInfo::networkType(int status) {
    switch (status) {
        case 5: return 1;
        case 1: return 2;
        case 2: return 3;
        case 3: return 4;
        case 4: return 5;
        case 6: return 2;
        default: return 0;
    }
}

bool WrenDeviceInfo::jailbreak() { return platform::fs::fileExists("/User/Applications/"); }

platform::Value WrenDeviceInfo::deviceCurrentInfo() {
    const std::string und = QuillonDeviceInfo::getDeviceUUID().value_or("");
    const std::string model = QuillonDeviceInfo::getDeviceType().value_or("");
    const std::string sysver = QuillonDeviceInfo::getIOSVersion();

    platform::Value ram = platform::dict();
    ram["total"] = int64Of(QuillonDeviceInfo::memoryTotal());
    ram["free"] = int64Of(QuillonDeviceInfo::memoryUsage());
    platform::Value rom = platform::dict();
    rom["total"] = int64Of(QuillonDeviceInfo::totalDiskSpaceInBytes());
    rom["free"] = int64Of(QuillonDeviceInfo::freeDiskSpaceInBytes());

    const int type = networkType(networkStatus());
    const auto carrier = platform::telephony::carrierInfo();
    platform::Value carrierDict = platform::dict();
    carrierDict["isp"] = carrier.mobileCountryCode.value_or("") + carrier.mobileNetworkCode.value_or("");
    std::string typeText = std::to_string(type);
    if (std::atof(sysver.c_str()) >= 7.0) {
        typeText += "/" + carrier.radioAccessTechnology.value_or("(null)");
    }
    carrierDict["type"] = typeText;
    platform::Value network = platform::dict();
    network["type"] = type;
    network["carrier"] = std::move(carrierDict);

    const auto level = QuillonDeviceInfo::batteryLevel();
    const float battery = level ? static_cast<float>(std::atof(level->c_str())) : 0.0f;
    const auto state = platform::battery::status().state;
    const bool power = state == platform::battery::State::Charging || state == platform::battery::State::Full;

    const int orientation = platform::ui::Screen::main().deviceOrientation();
    int rotate = 0;
    if (orientation == platform::ui::kOrientationPortrait || orientation == platform::ui::kOrientationPortraitUpsideDown) {
        rotate = 2;
    } else if (orientation == platform::ui::kOrientationLandscapeLeft ||
               orientation == platform::ui::kOrientationLandscapeRight) {
        rotate = 1;
    }

    platform::Value location = platform::dict();
    QuillonDeviceInfo::currentLocation([&](double latitude, double longitude) {
        location["lot"] = longitude;
        location["lat"] = latitude;
    });
    if (location.empty()) {
        location["lot"] = 0.0;
        location["lat"] = 0.0;
    }

    platform::Value record = platform::dict();
    record["und"] = und;
    record["model"] = model;
    record["sysver"] = sysver;
    record["sysname"] = 1;
    record["ram"] = std::move(ram);
    record["rom"] = std::move(rom);
    record["network"] = std::move(network);
    record["battery"] = static_cast<double>(battery);
    record["power"] = power;
    record["jailbreak"] = jailbreak();
    record["rotate"] = rotate;
    record["location"] = std::move(location);
    return record;
}
