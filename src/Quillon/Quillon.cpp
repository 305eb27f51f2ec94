// The crash reporter's public facade: prints the initialisation lines, validates the key,
// copies the host's settings into the runtime configuration and forwards to the
// coordinator, the breadcrumb store, the customized-exception reporter and the feedback side.
#include "quillon/Quillon.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/net/URLSession.h"
#include "platform/runtime/DispatchQueue.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonCustomizedReportManager.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonGuard.h"
#include "reliclass/QuillonLogDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"
#include "reliclass/QuillonUtil.h"
#include "wren/Wren.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <vector>

namespace {

// Work a crash would otherwise do, done now off the main thread: the device record's fields
// that cannot change, and the HTTP library that the launch's requests (registration,
// configuration) are about to need, so that a crash soon after can be sent.
void prepareDeviceFields() {
    platform::DispatchQueue::global().async([] { QuillonDeviceInfo::prepareFixedFields(); });
    if (QuillonConfiguration::shareConfiguration().up.load() != -1) platform::URLSession::shared().startLoading();
}

constexpr const char* kSDKVersion = "2.1.3";

// How "%s" renders a string that may be absent.
const char* cText(const Quillon::String& s) { return s ? s->c_str() : "(null)"; }

std::string demangle(const char* name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return status == 0 && out ? std::string(out.get()) : std::string(name);
}

// How the logger renders an object: "<Type: 0x...>", or "(null)".
std::string describeObject(const QuillonDelegate* object) {
    if (!object) return "(null)";
    return platform::format("<%s: %p>", demangle(typeid(*object).name()).c_str(), static_cast<const void*>(object));
}

bool uploadsBarred() {
    return QuillonConfiguration::shareConfiguration().up.load(std::memory_order_relaxed) == -1;
}

bool isNilOrEmpty(const Quillon::String& s) { return !s || s->empty(); }

}  // namespace

void Quillon::init(const String& appKey) { init(appKey, std::nullopt, QuillonConfig::defaultConfig()); }

void Quillon::init(const String& appKey, const String& channel) {
    init(appKey, channel, QuillonConfig::defaultConfig());
}

void Quillon::init(const String& appKey, const String& channel, const QuillonConfig& config) {
    quillon::guarded([&] {
        platform::log(platform::format("[QUILLON INFO] init:%s channel:%s\n", cText(appKey), cText(channel)));
        printConfig(config);
        String key = QuillonUtil::checkAppId(appKey);
        if (isNilOrEmpty(key)) {
            platform::log("[QUILLON ERROR] Application ID is nil, get it from websit.\n");
            return;
        }
        if (config.enabledShakeFeedback) initWren(*key, config);
        if (config.enabledMonitorException) {
            initQuillonConfig(config);
            QuillonLogDataManager::sharedInstance();
            QuillonReportDataUnit::shareStance().initReportInterface(key, channel);
            prepareDeviceFields();
        }
        platform::log(platform::format("[QUILLON INFO] (%s) init finished!\n", kSDKVersion));
    });
}

void Quillon::init(const String& appKey, const String& groupId, const String& channel, const QuillonConfig& config) {
    quillon::guarded([&] {
        platform::log(platform::format("[QUILLON INFO] init:%s groupid:%s channel:%s\n", cText(appKey),
                                       cText(groupId), cText(channel)));
        printConfig(config);
        String key = QuillonUtil::checkAppId(appKey);
        if (isNilOrEmpty(key)) {
            platform::log("[QUILLON ERROR] Application ID is nil, get it from websit.\n");
            return;
        }
        if (!checkGroupId(groupId)) {
            platform::log("[QUILLON ERROR] Application group id is nil, get it from project.\n");
            return;
        }
        if (config.enabledShakeFeedback) initWren(*key, config);
        if (config.enabledMonitorException) {
            initQuillonConfig(config);
            QuillonLogDataManager::sharedInstance();
            QuillonReportDataUnit::shareStance().initReportInterface(key, groupId, channel);
            prepareDeviceFields();
        }
        platform::log(platform::format("[QUILLON INFO] (%s) init finished!\n", kSDKVersion));
    });
}

void Quillon::initWren(const std::string& appKey, const QuillonConfig& config) {
    WrenConfig wrenConfig = WrenConfig::defaultConfig();
    // The crash delegate serves the feedback side too when it implements its delegate.
    wrenConfig.wrenDelegate = dynamic_cast<WrenDelegate*>(config.crashDelegate);
    wrenConfig.enabledShake = true;
    wrenConfig.reportOnlyWIFI = config.reportOnlyWIFI;
    wrenConfig.wayOfFeedback = 0;
    wrenConfig.showCloseShakeOption = config.alertBtnCloseShakeFeedback;
    Wren::init(appKey, wrenConfig);
}

void Quillon::initQuillonConfig(const QuillonConfig& config) {
    QuillonConfiguration& runtime = QuillonConfiguration::shareConfiguration();
    runtime.crashDelegate = config.crashDelegate;
    runtime.enabledMonitorException = config.enabledMonitorException;
    runtime.reportOnlyWIFI = config.reportOnlyWIFI;
    runtime.useLocationInfo = config.useLocationInfo;
    runtime.printLogForDebug = config.printLogForDebug;
    QuillonConfiguration::outputLogEnabled(runtime.printLogForDebug);
}

void Quillon::printConfig(const QuillonConfig& config) {
    platform::log(platform::format(
        "[QUILLON INFO] config={\n crashDelegate:%s\n enabledMonitorException:%d\n enabledShakeReport:%d\n "
        "alertBtnCloseShakeFeedback:%d\n useLocationInfo:%d\n reportOnlyWIFI:%d\n printLogForDebug:%d\n}",
        describeObject(config.crashDelegate).c_str(), config.enabledMonitorException ? 1 : 0,
        config.enabledShakeFeedback ? 1 : 0, config.alertBtnCloseShakeFeedback ? 1 : 0,
        config.useLocationInfo ? 1 : 0, config.reportOnlyWIFI ? 1 : 0, config.printLogForDebug ? 1 : 0));
}

bool Quillon::checkGroupId(const String& groupId) {
    if (isNilOrEmpty(groupId)) return false;
    return platform::fs::appGroupContainer(*groupId).has_value();
}

void Quillon::setUserInfo(const String& user) {
    quillon::guarded([&] {
        Wren::setUserInfo(user);
        if (uploadsBarred() || isNilOrEmpty(user)) return;
        QuillonReportDataUnit::shareStance().setQuillonUserInfo(user);
    });
}

void Quillon::setUserData(const String& value, const String& key) {
    quillon::guarded([&] { Wren::setUserData(value, key); });
}

void Quillon::removeAllUserData() {
    quillon::guarded([] { Wren::removeAllUserData(); });
}

void Quillon::enabledShakeFeedback(bool enabled) {
    quillon::guarded([&] { Wren::enabledShakeReport(enabled); });
}

void Quillon::feedbackWithMessage(const String& message) {
    quillon::guarded([&] { Wren::feedbackWithMessage(message, nullptr); });
}

void Quillon::reportCustomizedException(const std::exception& exception, const String& message) {
    // Taken before anything else, so that the first frame kept is the host's call.
    void* frames[128];
    int count = ::backtrace(frames, 128);
    quillon::guarded([&] {
        if (uploadsBarred()) return;
        if (auto* raised = dynamic_cast<const platform::Exception*>(&exception)) {
            QuillonCustomizedReportManager::defaultManager().reportCustomizedException(*raised, 0, message);
            return;
        }
        // A plain C++ exception carries no return addresses: name it after its dynamic type,
        // and take the stack of this report, behind the throw site when the library recorded
        // it (once the crash handlers are installed).
        platform::Exception converted(demangle(typeid(exception).name()), exception.what());
        std::vector<void*> addresses = QuillonUncaughtExceptionHandler::throwSiteAddresses(&exception);
        if (count > 1) addresses.insert(addresses.end(), frames + 1, frames + count);
        converted.setCallStackReturnAddresses(std::move(addresses));
        QuillonCustomizedReportManager::defaultManager().reportCustomizedException(converted, 0, message);
    });
}

void Quillon::reportCustomizedException(std::int32_t type, const String& message, const String& stackTrace) {
    quillon::guarded([&] {
        if (uploadsBarred() || !stackTrace) return;
        QuillonCustomizedReportManager::defaultManager().reportCustomizedException(type, message, stackTrace);
    });
}

void Quillon::leaveBreadcrumbWithString(const String& text) {
    if (uploadsBarred() || isNilOrEmpty(text)) return;
    quillon::guarded([&] {
        if (QuillonLogDataManager* store = QuillonLogDataManager::activeInstance()) store->cacheWithString(*text);
    });
}

void Quillon::leaveBreadcrumbWithFormat(const char* format, ...) {
    if (uploadsBarred() || !format) return;
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, ap);
        text.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    if (n < 0) return;
    quillon::guarded([&] {
        if (QuillonLogDataManager* store = QuillonLogDataManager::activeInstance()) store->cacheWithString(text);
    });
}
