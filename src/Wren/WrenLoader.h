// The feedback side's one process-wide object: owns the preferences, the file-store
// uploader, the submission service and the developer's user data, starts the side and
// passes finished feedback on to the submission service.
#pragma once

#include "Wren/WrenWindowControllerDelegate.h"
#include "platform/foundation/Value.h"
#include "wren/Wren.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class WrenDataHandler;
class WrenImgCloudManager;
class WrenPreferences;
class WrenScreens;

class WrenLoader : public WrenWindowControllerDelegate {
public:
    using String = std::optional<std::string>;

    // At most this many user-data entries are kept; the oldest goes first.
    static constexpr std::size_t kMaxUserData = 101;

    // Created once, on the first call, on whatever thread makes it.
    static WrenLoader& sharedInstance();
    // The loader if it has been created, never creating it.
    static WrenLoader* activeInstance();

    // Starts the feedback side: normalises the key (an empty one prints an error line and
    // creates nothing), sets the loader's key and configuration and queues preload on the
    // main run loop.
    static void init(const String& appKey, const WrenConfig& config);

    // Main thread: copies the configuration into the preferences and, with the on-screen
    // flow enabled, creates the cache directory and sends what an earlier run cached.
    void preload();

    // An absent value removes the oldest entry with the key; a value is appended as
    // {key: value} (a key may appear more than once). An absent or empty key does nothing.
    void setUserData(const String& value, const String& key);
    void removeAllUserData();
    void enabledShakeReport(bool enabled);
    void switchWayOfFeedback(std::int64_t way);
    // Submits a message as feedback of type 4, with the device record collected on the
    // calling thread and without the user data. An absent or empty message does nothing.
    void feedbackWithMessage(const String& message, const void* userInfo);

    // Adds the user data (when there is any) and submits the report; false when it is
    // dropped (no report or no device record).
    bool windowController(WrenWindowController* controller, const platform::Value& commitReportData,
                          const platform::Value& deviceInfo) override;
    void windowControllerClosedShakeReport(WrenWindowController* controller) override;

    // The on-screen flow (the window controller of the UI library), loading the library when
    // `load` is set and it is not loaded yet, and then giving it the preferences, this loader
    // as its delegate and the device-record source. Null when it is not loaded or cannot be.
    WrenScreens* loadedScreens(bool load);
    WrenPreferences& preferences() const { return preferences_; }
    WrenImgCloudManager& imgCloudManager() const { return *imgCloudManager_; }
    WrenDataHandler& dataHandler() const { return *dataHandler_; }
    WrenConfig config() const;
    void setConfig(const WrenConfig& config);
    String appKey() const;
    void setAppKey(const String& appKey);
    String userInfo() const;
    void setUserInfo(const String& userInfo);
    // A copy of the user-data list: single-entry dictionaries, oldest first.
    platform::Value userData() const;

    WrenLoader(const WrenLoader&) = delete;
    WrenLoader& operator=(const WrenLoader&) = delete;

private:
    WrenLoader();
    ~WrenLoader();

    // Guards the fields below: the facade may be called from any thread while preload and
    // the window controller's callbacks run on the main thread.
    mutable std::mutex mutex_;
    platform::Value userData_;
    WrenConfig config_;
    String appKey_;
    String userInfo_;

    WrenPreferences& preferences_;
    std::mutex screensMutex_;  // one loader of the screens at a time
    std::atomic<WrenScreens*> screens_{nullptr};
    std::shared_ptr<WrenImgCloudManager> imgCloudManager_;
    std::unique_ptr<WrenDataHandler> dataHandler_;
};
