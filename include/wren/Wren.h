// libquillon: the feedback side's C++ interface (shake or swipe to report a problem).
#pragma once

#include "quillon/quillon.h"

#include <cstdint>
#include <optional>
#include <string>

// Told when the user switches shake feedback off from the feedback alert. Held without
// ownership; the default does nothing.
class QUILLON_EXPORT WrenDelegate {
public:
    virtual ~WrenDelegate() = default;
    virtual void userClosedShakeReport() {}
};

// The feedback side's configuration, a plain copyable value.
struct QUILLON_EXPORT WrenConfig {
    WrenDelegate* wrenDelegate = nullptr;        // not owned
    bool supportSelectFromImageLibrary = true;
    bool enabledShake = true;
    bool showCloseShakeOption = false;           // the alert offers a switch-off button
    bool enabledReportUI = true;                 // start the on-screen feedback flow at all
    std::int64_t wayOfFeedback = 0;              // 0 shake, 1 three-finger swipe up, 2 down
    bool enabledExceptionMonitor = true;
    bool reportOnlyWIFI = true;                  // otherwise feedback is cached for later
    std::string defaultUser;

    static WrenConfig defaultConfig() { return WrenConfig{}; }
};

class QUILLON_EXPORT Wren {
public:
    using String = std::optional<std::string>;

    static void init(const String& appKey);
    static void init(const String& appKey, const WrenConfig& config);
    static void setUserInfo(const String& userInfo);
    // Key/value data sent with feedback; an absent value removes the key's oldest entry.
    static void setUserData(const String& value, const String& key);
    static void removeAllUserData();
    static void enabledShakeReport(bool enabled);
    static void switchWayOfFeedback(std::int64_t way);
    // Sends a feedback message without the on-screen flow. The user info is not used.
    static void feedbackWithMessage(const String& message, const void* userInfo);
    // Does nothing: the feedback side is never torn down.
    static void terminate();
};
