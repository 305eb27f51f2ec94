// The crash side's coordinator: holds the installation's identity (application key,
// channel, user, application group), runs the launch sequence (configuration request,
// flush of stored reports, installation of the crash handlers, registration), keeps a
// registration that failed for later delivery, listens for crash notices from the host's
// application extensions, and turns a captured exception into a crash report that is sent
// at once or stored for the next launch.
#pragma once

#include "platform/foundation/Exception.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NotificationCenter.h"
#include "reliclass/QuillonGuardedValue.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QuillonReportDataManager;
namespace platform {
class DarwinNotifyCenter;
}

class QuillonReportDataUnit {
public:
    static constexpr const char* kAppexCrashedNotification = "qlmon.appex.crashed";
    static constexpr const char* kAppexExceptionNotification = "qlmon.appex.exception";
    // The configuration is requested again after this many seconds.
    static constexpr double kConfigRequestPeriod = 86400000.0;

    static QuillonReportDataUnit& shareStance();
    static QuillonReportDataUnit* activeInstance();

    // Launch sequence (on the main thread).
    void initReportInterface(const std::optional<std::string>& key, const std::optional<std::string>& channel);
    void initReportInterface(const std::optional<std::string>& key, const std::optional<std::string>& groupId,
                             const std::optional<std::string>& channel);
    void setQuillonUserInfo(const std::optional<std::string>& user);

    // Background work of the launch, each one block on the global queue.
    void reportCacheData();
    void initFromQuillon();
    void requestConfig();

    // Installs the crash handlers 0.2 s later on the main run loop.
    void startMonitor();
    void reInstallUncaughtExceptionHandler();
    void delayInstallUncaughtExceptionHandler();

    // Extension notices.
    void observerDarwinNotificationWithIdentifier(const std::string& name);
    void removeDarwinNotficationWithIdentifier(const std::string& name);
    // The payload file of `name` in the group's container, or null.
    platform::Value userInfo(const std::optional<std::string>& name);
    // type 0: an extension crashed; 1: an extension reports an exception.
    void handleNotification(const platform::Notification& notification, std::int64_t type);
    static void darwinNotificationCallback(platform::DarwinNotifyCenter* center, const void* observer,
                                           const std::string& name, const void* object,
                                           const platform::Value& userInfo);

    // Reports: the entry point of the crash handlers; never returns.
    [[noreturn]] void reportException(const platform::Exception& exception);
    // kind 0: the exception's own return addresses are its trace; 1: the trace is the text
    // under "stack trace" in its user info.
    void reportDataToServer(std::uint64_t type, const platform::Exception& exception,
                            const std::optional<std::string>& message, bool appex);
    platform::Value getCrashData(std::uint64_t type, const platform::Exception& exception,
                                 const std::optional<std::string>& message);
    std::string stackTraceWithException(const platform::Exception& exception);
    // The event's "csc": [{"une": the user string or ""}, {"bbs": the breadcrumb trail}],
    // shared by crash and customized-exception records.
    platform::Value userAndBreadcrumbs() const;

    // Prints "SDK error:%@" with the exception through the platform logger, always.
    // The message is not printed.
    void reportSDKException(const std::exception& exception, const std::string& message);
    void reportSDKException(const std::string& description, const std::string& message);

    // The body of a registration whose sending failed in this process; null otherwise.
    platform::Value initCachData() const;
    void setInitCachData(const platform::Value& body);

    bool isCrashReported() const { return isCrashReported_.load(); }

    QuillonReportDataManager* reportManager = nullptr;
    std::optional<std::string> appKey;
    std::optional<std::string> channel;
    // Set from any host thread, read by the crash and customized-exception paths.
    QuillonGuardedValue<std::optional<std::string>> user;
    std::optional<std::string> groupId;
    std::optional<platform::NotificationCenter::Token> darwinNotifyAppexCrashed;
    std::optional<platform::NotificationCenter::Token> darwinNotifyAppexException;

private:
    QuillonReportDataUnit() = default;
    void observeAppexNotification(const std::string& name, std::int64_t type);

    // Set once per failed registration and read at crash time, possibly on another thread:
    // the pointer is swapped atomically and old bodies are kept alive (there are few).
    std::atomic<const platform::Value*> initCachData_{nullptr};
    std::atomic<bool> isCrashReported_{false};
    // The thread running the host's crash report (0 while there is none): a crash on another
    // thread meanwhile waits for that report to end the process.
    std::atomic<long> reportingThread_{0};
    std::atomic<bool> launchBarred_{false};
};
