// Everything the crash side asks about the device, the operating system and the host
// application: the persistent device identifier, model and version strings, the carrier
// record, the send gate, the location lookup, the three device records and the resource
// metrics. Class methods only; the one piece of state is the identifier's keychain item.
//
// Strings that may be missing are std::optional. Operations that run under the exception
// guard return their empty result (nullopt, "" or a null Value) after an internal error.
#pragma once

#include "platform/foundation/Value.h"

#include <functional>
#include <optional>
#include <string>

class QuillonDeviceInfo {
public:
    static constexpr const char* kDeviceUUIDKey = "QNDeviceUUIDKey";
    static constexpr const char* kSDKVersion = "2.1.3";
    static constexpr const char* kProtocolVersion = "5.2.0";

    // A fresh random UUID, 36 characters, upper case.
    static std::string createUUID();
    // The persistent device identifier; once stored in the keychain it never changes.
    static std::optional<std::string> getDeviceUUID();
    // The operating-system version, for example "12"; "" when unknown.
    static std::string getIOSVersion();
    static std::optional<std::string> getAPPVersion();
    static std::optional<std::string> getAppBuildVersion();
    static std::optional<std::string> getAppName();
    static std::optional<std::string> getBoundleID();
    // "1" for a main screen exactly 320 points wide, "2" otherwise.
    static std::string getScreenSize();
    // The model name of the hardware (see modelName).
    static std::optional<std::string> getDeviceType();
    // { "nt": network type, "isp": country and network code }.
    static platform::Value getCarrierInfo();
    // "0" when the first preferred language is "zh-Hans", "1" otherwise.
    static std::string getSysLanguage();
    // "portrait", "landscape" or "undefined".
    static std::string getScreenOrientation();
    static std::string executableUUID() { return std::string(); }
    // Whether a report may be sent now (Wi-Fi only when the configuration asks for it).
    static bool isReachableNetWork();
    // Calls completion(latitude, longitude) exactly once before returning; (0, 0) when the
    // location is off, unavailable or unknown.
    static void currentLocation(const std::function<void(double latitude, double longitude)>& completion);

    static platform::Value getDeviceInfo();
    // Reads, off the crash path, the report record's fields that cannot change while the
    // process runs (identifier, application, system, model, screen) and asks the carrier and
    // reachability sources once, so that later records (above all a crash's) reuse them.
    // Until it has run, records read everything afresh.
    static void prepareFixedFields();
    static platform::Value getDeviceInfoForInit();
    static platform::Value getDeviceInfoForConfig();

    // Resource metrics, as decimal strings.
    static std::optional<std::string> totalDiskSpaceInBytes();
    static std::optional<std::string> freeDiskSpaceInBytes();
    static std::optional<std::string> batteryLevel();
    static std::optional<std::string> memoryTotal();
    static std::string memoryUsage();
    static std::optional<std::string> cpuUsagePercent();

    // The model table: a hardware machine string to its model name; unknown strings are
    // returned unchanged.
    static std::string modelName(const std::string& machine);
    // The user's first preferred language in BCP-47 form (from LANGUAGE, LC_ALL,
    // LC_MESSAGES or LANG), e.g. "zh-Hans" for zh_CN; "en" when none is set.
    static std::string preferredLanguage();
};
