#include "Wren/WrenLoader.h"

#include "Wren/WrenDataHandler.h"
#include "Wren/WrenDeviceInfo.h"
#include "Wren/WrenImgCloudManager.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenRequestManager.h"
#include "Wren/WrenScreens.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/runtime/RunLoop.h"
#include "platform/runtime/ToolkitLoader.h"
#include "reliclass/QuillonUtil.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>

namespace {

std::once_flag gOnce;
std::atomic<WrenLoader*> gActive{nullptr};

// The screens run on the main thread; a facade call from another thread is passed there.
void onMainThread(std::function<void()> task) {
    if (platform::RunLoop::isMainThread())
        task();
    else
        platform::RunLoop::main().perform(std::move(task));
}

}  // namespace

WrenLoader& WrenLoader::sharedInstance() {
    std::call_once(gOnce, [] { gActive.store(new WrenLoader, std::memory_order_release); });
    return *gActive.load(std::memory_order_acquire);
}

WrenLoader* WrenLoader::activeInstance() { return gActive.load(std::memory_order_acquire); }

WrenLoader::WrenLoader()
    : userData_(platform::array()),
      preferences_(WrenPreferences::sharedInstance()),
      imgCloudManager_(std::make_shared<WrenImgCloudManager>()),
      dataHandler_(std::make_unique<WrenDataHandler>(preferences_)) {
    // Screenshot uploads go through this loader's uploader from now on.
    WrenRequestManager::setImgCloudManager(imgCloudManager_);
}

WrenLoader::~WrenLoader() = default;

void WrenLoader::init(const String& appKey, const WrenConfig& config) {
    String key = QuillonUtil::checkAppId(appKey);
    if (!key || key->empty()) {
        platform::log("[WRENSHAKE ERROR] Application ID is nil, get it from websit.\n");
        return;
    }
    WrenLoader& loader = sharedInstance();
    loader.setAppKey(key);
    loader.setConfig(config);
    // The screens (and the operation trace's hooks) come with the loader, so that the host's
    // screens that appear before the first turn of the main loop are traced too.
    if (config.enabledReportUI) loader.loadedScreens(true);
    // Runs on a later turn of the main run loop, after the line below.
    platform::RunLoop::main().perform([&loader] { loader.preload(); });
    platform::log("[WRENSHAKE INFO] init finished!\n");
}

void WrenLoader::preload() {
    const WrenConfig settings = config();
    preferences_.setSupportSelectFromImageLibrary(settings.supportSelectFromImageLibrary);
    preferences_.setEnabledShake(settings.enabledShake);
    preferences_.setReportOnlyWIFI(settings.reportOnlyWIFI);
    preferences_.setWayOfFeedback(settings.wayOfFeedback);
    preferences_.setShowCloseFeedbackOption(settings.showCloseShakeOption);
    preferences_.setAppKey(appKey());
    preferences_.setUserInfo(userInfo());

    if (!settings.enabledReportUI) {
        preferences_.setEnabledShake(false);
        return;
    }
    preferences_.setEnabledShake(true);
    if (WrenScreens* screens = loadedScreens(true)) screens->enabledMonitorShakeEvent(true);

    const std::string dir = platform::format("%s/%s", platform::fs::cachesDirectory().c_str(), "quillon");
    if (!platform::fs::fileExists(dir) && !platform::fs::createDirectories(dir)) {
        const int error = errno;
        platform::log(platform::format("create dir error:%s (%s)", std::strerror(error), dir.c_str()));
    }
    dataHandler_->checkAndUploadCacheData();
}

void WrenLoader::setUserData(const String& value, const String& key) {
    if (!key || key->empty()) return;
    std::lock_guard lock(mutex_);
    if (value) {
        if (userData_.size() >= kMaxUserData) userData_.erase(userData_.begin());
        platform::Value entry = platform::dict();
        entry[*key] = *value;
        userData_.push_back(std::move(entry));
        return;
    }
    for (auto it = userData_.begin(); it != userData_.end(); ++it) {
        if (it->contains(*key)) {
            userData_.erase(it);
            return;
        }
    }
}

void WrenLoader::removeAllUserData() {
    std::lock_guard lock(mutex_);
    userData_ = platform::array();
}

void WrenLoader::enabledShakeReport(bool enabled) {
    preferences_.setEnabledShake(enabled);
    onMainThread([this, enabled] {
        // Switching off needs no screens that were never loaded.
        if (WrenScreens* screens = loadedScreens(enabled)) screens->enabledMonitorShakeEvent(enabled);
    });
}

void WrenLoader::switchWayOfFeedback(std::int64_t way) {
    preferences_.setWayOfFeedback(way);
    onMainThread([this, way] {
        if (WrenScreens* screens = loadedScreens(false)) screens->switchWayOfFeedback(way);
    });
}

void WrenLoader::feedbackWithMessage(const String& message, const void* /*userInfo*/) {
    if (!message || message->empty()) return;
    preferences_.setFeedbackType(4);
    platform::Value report = platform::dict();
    report["commentText"] = *message;
    dataHandler_->reportData(report, WrenDeviceInfo::deviceCurrentInfo());
}

bool WrenLoader::windowController(WrenWindowController* /*controller*/, const platform::Value& commitReportData,
                                  const platform::Value& deviceInfo) {
    if (commitReportData.is_null() || deviceInfo.is_null()) {
        platform::log("[WRENSHAKE ERROR] feedback without a report or a device record is dropped.");
        return false;
    }
    platform::Value report = commitReportData;
    {
        std::lock_guard lock(mutex_);
        if (!userData_.empty()) report["userData"] = userData_;
    }
    dataHandler_->reportData(report, deviceInfo);
    return true;
}

void WrenLoader::windowControllerClosedShakeReport(WrenWindowController* /*controller*/) {
    if (WrenDelegate* delegate = config().wrenDelegate) delegate->userClosedShakeReport();
}

WrenScreens* WrenLoader::loadedScreens(bool load) {
    WrenScreens* screens = screens_.load(std::memory_order_acquire);
    if (screens || !load) return screens;
    std::lock_guard lock(screensMutex_);
    screens = screens_.load(std::memory_order_acquire);
    if (screens) return screens;
    // The UI library is mapped only now, when the on-screen flow starts.
    auto entry = reinterpret_cast<WrenScreens::EntryPoint>(platform::ui::loadToolkitSymbol(WrenScreens::kEntryPoint));
    if (!entry) return nullptr;
    screens = entry();
    // Wired here, whichever call loads the screens first, so that no path starts a flow
    // whose report has nowhere to go.
    screens->setPreferences(&preferences_);
    screens->setDelegate(this);
    screens->setDeviceInfoSource([] { return WrenDeviceInfo::deviceCurrentInfo(); });
    screens_.store(screens, std::memory_order_release);
    return screens;
}

WrenConfig WrenLoader::config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

void WrenLoader::setConfig(const WrenConfig& config) {
    std::lock_guard lock(mutex_);
    config_ = config;
}

WrenLoader::String WrenLoader::appKey() const {
    std::lock_guard lock(mutex_);
    return appKey_;
}

void WrenLoader::setAppKey(const String& appKey) {
    std::lock_guard lock(mutex_);
    appKey_ = appKey;
}

WrenLoader::String WrenLoader::userInfo() const {
    std::lock_guard lock(mutex_);
    return userInfo_;
}

void WrenLoader::setUserInfo(const String& userInfo) {
    std::lock_guard lock(mutex_);
    userInfo_ = userInfo;
}

platform::Value WrenLoader::userData() const {
    std::lock_guard lock(mutex_);
    return userData_;
}
