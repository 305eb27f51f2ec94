// libquillon: the crash reporter's C++ interface.
//
//     #include <quillon/Quillon.h>
//
//     int main() {
//         QuillonConfig config = QuillonConfig::defaultConfig();
//         config.reportOnlyWIFI = false;
//         Quillon::init("your-app-key", "your-channel", config);
//         ...
//     }
//
// Strings that may be absent are std::optional<std::string>: an absent value (std::nullopt)
// and an empty string are different things to the library (an absent channel is sent as
// none at all). No function here throws or reports an error.
#pragma once

#include "quillon/QuillonDelegate.h"
#include "quillon/quillon.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

// The host's configuration, a plain copyable value. defaultConfig() gives the defaults below.
struct QUILLON_EXPORT QuillonConfig {
    // Told about a crash after it has been reported; not owned. A delegate that also derives
    // from WrenDelegate (<wren/Wren.h>) is given to the feedback side as well.
    QuillonDelegate* crashDelegate = nullptr;
    // Start the crash reporter: handlers, registration, uploads.
    bool enabledMonitorException = true;
    // Start the shake-to-feedback side.
    bool enabledShakeFeedback = false;
    // The feedback alert offers a button that switches shake feedback off.
    bool alertBtnCloseShakeFeedback = false;
    // Device records may carry the location.
    bool useLocationInfo = false;
    // Upload only over Wi-Fi (a wired link counts as Wi-Fi); otherwise over any connection.
    bool reportOnlyWIFI = true;
    // Enables the crash side's leveled console log.
    bool printLogForDebug = false;

    static QuillonConfig defaultConfig();
};

class QUILLON_EXPORT Quillon {
public:
    using String = std::optional<std::string>;

    // Initialisation: once, early, on the main thread. The main thread must run the
    // library's run loop afterwards (QNRunMainLoopFor, or QNMainLoopFileDescriptor with
    // QNMainLoopRunPending from the host's own loop): the crash handlers are installed from
    // it 0.2 seconds after initialisation.
    static void init(const String& appKey);
    static void init(const String& appKey, const String& channel);
    static void init(const String& appKey, const String& channel, const QuillonConfig& config);
    // With an application group shared with the application's extensions
    // ($XDG_DATA_HOME/app-groups/<groupId>/ must exist): also relays their crash notices.
    static void init(const String& appKey, const String& groupId, const String& channel, const QuillonConfig& config);

    // A free-form user identifier sent with later reports; also given to the feedback side.
    static void setUserInfo(const String& user);

    // Feedback side: user data sent with feedback, the shake switch, a feedback message.
    static void setUserData(const String& value, const String& key);
    static void removeAllUserData();
    static void enabledShakeFeedback(bool enabled);
    static void feedbackWithMessage(const String& message);

    // Reports an exception the host caught. A platform exception of the library (thrown by
    // code built on its internals) keeps its name, reason and the addresses where it was
    // raised; any other std::exception is reported under its dynamic type's name with
    // what() as the reason and the backtrace of this call as its stack trace.
    static void reportCustomizedException(const std::exception& exception, const String& message);
    // Reports an error of an embedded runtime: type 1 C++, 3 Lua, 4 JavaScript, 5 C#; other
    // types are ignored, and so is a report without a stack trace.
    static void reportCustomizedException(std::int32_t type, const String& message, const String& stackTrace);

    // Breadcrumbs: crash reports carry the last 100 (each shorter than 200 characters).
    // They are kept only once the crash reporter has been initialised.
    static void leaveBreadcrumbWithString(const String& text);
    static void leaveBreadcrumbWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    static void initWren(const std::string& appKey, const QuillonConfig& config);
    static void initQuillonConfig(const QuillonConfig& config);
    static void printConfig(const QuillonConfig& config);
    static bool checkGroupId(const String& groupId);
};
