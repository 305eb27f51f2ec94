#include "reliclass/QuillonReportDataUnit.h"

#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/runtime/DarwinNotifyCenter.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/RunLoop.h"
#include "quillon/QuillonDelegate.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonCustomizedReportManager.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonDiagnosticManager.h"
#include "reliclass/QuillonGuard.h"
#include "reliclass/QuillonLogDataManager.h"
#include "reliclass/QuillonNetworkBuilder.h"
#include "reliclass/QuillonReportDataManager.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"

#include <unistd.h>

#include <chrono>

#include <quillon/detail/RecordKeys.h>

namespace keys = quillon::record;

using platform::Value;

namespace {

std::atomic<QuillonReportDataUnit*> gInstance{nullptr};

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

}  // namespace

QuillonReportDataUnit& QuillonReportDataUnit::shareStance() {
    static QuillonReportDataUnit* instance = [] {
        auto* p = new QuillonReportDataUnit;
        gInstance.store(p, std::memory_order_release);
        return p;
    }();
    return *instance;
}

QuillonReportDataUnit* QuillonReportDataUnit::activeInstance() { return gInstance.load(std::memory_order_acquire); }

// ------------------------------------------------------------------ launch

void QuillonReportDataUnit::initReportInterface(const std::optional<std::string>& key,
                                                const std::optional<std::string>& channelName) {
    quillon::guarded([&] {
        appKey = key;
        channel = channelName;
        reportManager = &QuillonReportDataManager::defaultManager();

        auto& config = QuillonConfiguration::shareConfiguration();
        // The bar is the one saved by an earlier run: read it before the configuration
        // request goes out, whose answer may arrive (and be applied) at any moment.
        const bool barred = config.up.load() == -1;
        launchBarred_.store(barred);
        const double now = nowSeconds();
        const double last = config.configRequestTime.load();
        if (last == 0 || now - last > kConfigRequestPeriod) {
            requestConfig();
            config.configRequestTime.store(now);
            config.saveConfigurationToFile();
        }

        if (barred) {
            QuillonConfiguration::logWithLevel(1, "already interdicted to upload the data, please contact support.");
            return;
        }
        reportCacheData();
        startMonitor();
        initFromQuillon();
    });
}

void QuillonReportDataUnit::initReportInterface(const std::optional<std::string>& key,
                                                const std::optional<std::string>& group,
                                                const std::optional<std::string>& channelName) {
    groupId = group;
    initReportInterface(key, channelName);
    if (launchBarred_.load()) return;
    quillon::guarded([&] {
        observeAppexNotification(kAppexCrashedNotification, 0);
        observeAppexNotification(kAppexExceptionNotification, 1);
    });
}

void QuillonReportDataUnit::observeAppexNotification(const std::string& name, std::int64_t type) {
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        name, platform::NotificationCenter::Delivery::MainQueue, [this, name, type](const platform::Notification&) {
            quillon::guarded([&] {
                platform::Notification notice{name, this, userInfo(name)};
                handleNotification(notice, type);
            });
        });
    if (type == 0) {
        darwinNotifyAppexCrashed = token;
    } else {
        darwinNotifyAppexException = token;
    }
    observerDarwinNotificationWithIdentifier(name);
}

void QuillonReportDataUnit::setQuillonUserInfo(const std::optional<std::string>& value) { user = value; }

void QuillonReportDataUnit::reportCacheData() {
    platform::DispatchQueue::global().async([] {
        quillon::guarded([] {
            QuillonCustomizedReportManager::defaultManager().reportDataToServer();
            auto& manager = QuillonReportDataManager::defaultManager();
            manager.reportCacheData(QuillonDataFileManager::crashDataPath());
            manager.reportCacheData(QuillonDataFileManager::initDataPath());
        });
    });
}

void QuillonReportDataUnit::initFromQuillon() {
    platform::DispatchQueue::global().async([this] {
        quillon::guarded([&] {
            platform::URLRequest request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("register");
            Value body = QuillonDeviceInfo::getDeviceInfoForInit();
            const std::string text = platform::toJSON(body, true);
            request.body = text;
            QuillonConfiguration::logWithLevel(4, "init request:%s\n body:%s", request.description().c_str(),
                                               text.c_str());
            QuillonReportDataManager::defaultManager().reportData(
                std::move(request), [this, body](const std::optional<platform::HTTPResponse>& response,
                                                 const std::optional<std::string>&,
                                                 const std::optional<platform::URLError>& error) {
                    if (error) {
                        QuillonConfiguration::logWithLevel(4, "init upload error:%s", error->description().c_str());
                        setInitCachData(body);
                        Value record = platform::dict();
                        record[keys::kAction] = "register";
                        record["body"] = body;
                        QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath())
                            .saveReportData(record);
                    } else {
                        QuillonConfiguration::logWithLevel(
                            4, "init upload response:%s", response ? response->description().c_str() : "(null)");
                    }
                });
        });
    });
}

void QuillonReportDataUnit::requestConfig() {
    platform::DispatchQueue::global().async([] {
        quillon::guarded([] {
            platform::URLRequest request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithConfigAction("config");
            request.body = platform::toJSON(QuillonDeviceInfo::getDeviceInfoForConfig(), true);
            QuillonReportDataManager::defaultManager().reportData(
                std::move(request), [](const std::optional<platform::HTTPResponse>&,
                                       const std::optional<std::string>& data,
                                       const std::optional<platform::URLError>& error) {
                    if (error || !data) return;
                    auto answer = platform::parseJSON(*data);
                    if (!answer || !answer->is_object()) return;
                    const Value* en = platform::find(*answer, "en");
                    if (platform::integerValue(en ? *en : Value()) != 0) return;
                    QuillonConfiguration::shareConfiguration().updateConfigurationWithDic(*answer);
                });
        });
    });
}

void QuillonReportDataUnit::startMonitor() {
    QuillonUncaughtExceptionHandler::prepareMainThread();
    QuillonUncaughtExceptionHandler::installDuringInitialisation();
    reInstallUncaughtExceptionHandler();
    // A host that never runs the main loop still gets its crashes reported.
    QuillonUncaughtExceptionHandler::installUnlessMainLoopDoes();
}

void QuillonReportDataUnit::reInstallUncaughtExceptionHandler() {
    platform::RunLoop::main().performAfter(0.2, [this] { delayInstallUncaughtExceptionHandler(); });
}

void QuillonReportDataUnit::delayInstallUncaughtExceptionHandler() { InstallQuillonUncaughtExceptionHandler(); }

// ------------------------------------------------------------------ extension notices

void QuillonReportDataUnit::observerDarwinNotificationWithIdentifier(const std::string& name) {
    removeDarwinNotficationWithIdentifier(name);
    platform::DarwinNotifyCenter::center().addObserver(this, &QuillonReportDataUnit::darwinNotificationCallback,
                                                       name);
}

void QuillonReportDataUnit::removeDarwinNotficationWithIdentifier(const std::string& name) {
    platform::DarwinNotifyCenter::center().removeObserver(this, name);
}

void QuillonReportDataUnit::darwinNotificationCallback(platform::DarwinNotifyCenter*, const void* observer,
                                                       const std::string& name, const void*, const Value&) {
    if (name.empty()) return;
    quillon::guarded([&] { platform::NotificationCenter::defaultCenter().post({name, observer, Value()}); });
}

Value QuillonReportDataUnit::userInfo(const std::optional<std::string>& name) {
    return quillon::guarded([&]() -> Value {
        if (!name || name->empty()) return Value();
        auto container = platform::fs::appGroupContainer(groupId.value_or(""));
        if (!container) return Value();
        auto text = platform::fs::readFile(*container + "/" + *name);
        if (!text) return Value();
        auto payload = platform::parseXMLPropertyList(*text);
        if (!payload || !payload->is_object()) return Value();
        return *payload;
    }, Value());
}

void QuillonReportDataUnit::handleNotification(const platform::Notification& notification, std::int64_t type) {
    quillon::guarded([&] {
        if (type != 0 && type != 1) return;
        const Value& payload = notification.userInfo;
        const Value* exceptionDict = platform::find(payload, "exception");
        const Value noException = platform::dict();
        const Value& info = exceptionDict ? *exceptionDict : noException;
        const std::string name = platform::textOrEmpty(info, "name");
        const std::string reason = platform::textOrEmpty(info, "reason");
        const std::string trace = platform::textOrEmpty(info, "stacktrace");

        auto& config = QuillonConfiguration::shareConfiguration();
        std::optional<std::string> message;
        if (type == 0) {
            const Value* appexInfo = platform::find(payload, "info");
            config.appexInfo.store(appexInfo ? *appexInfo : Value());
        } else {
            const Value* m = platform::find(info, "message");
            if (m) message = platform::stringValue(*m);
        }
        config.appex = true;
        Value exceptionInfo = platform::dict();
        exceptionInfo["stack trace"] = trace;
        platform::Exception exception(name, reason, exceptionInfo);
        reportDataToServer(1, exception, message, true);
    });
}

// ------------------------------------------------------------------ reports

void QuillonReportDataUnit::reportException(const platform::Exception& exception) {
    const long self = static_cast<long>(::gettid());
    long reporting = 0;
    if (!reportingThread_.compare_exchange_strong(reporting, self) && reporting != self) {
        // Another thread's report is under way and ends the process when it is out (or the
        // crash watchdog does): ending it here would lose that report.
        for (;;) ::pause();
    }
    const std::uint64_t type = exception.name() == "exception Signal" ? 1 : 0;
    reportDataToServer(type, exception, std::nullopt, false);
    try {
        if (QuillonDelegate* delegate = QuillonConfiguration::shareConfiguration().crashDelegate)
            delegate->receivedCrashNotification(stackTraceWithException(exception));
    } catch (const std::exception& e) {
        reportSDKException(e, "SDK crash report");
    } catch (...) {
    }
    QuillonUncaughtExceptionHandler::crashMethodWithException(exception);
}

void QuillonReportDataUnit::reportDataToServer(std::uint64_t type, const platform::Exception& exception,
                                               const std::optional<std::string>& message, bool appex) {
    if (appex) {
        isCrashReported_.store(true);
    } else {
        // The host's own crash is reported once: checked and set in one step.
        bool reported = false;
        if (!isCrashReported_.compare_exchange_strong(reported, true)) return;
    }
    quillon::guarded([&] {
        auto& config = QuillonConfiguration::shareConfiguration();
        config.appex = appex;
        // The device record describes the extension whose info was current when its report
        // began, or the host, whatever other threads do to the shared fields meanwhile.
        QuillonConfiguration::AppexScope scope(appex, appex ? config.appexInfo.load() : Value());

        Value record = getCrashData(type, exception, message);
        const Value pending = appex ? Value() : initCachData();

        auto& builder = QuillonNetworkBuilder::defaultBuilder();
        platform::URLRequest request;
        Value body;
        if (!pending.is_null()) {
            request = builder.buildRequestWithReprotAction("submore");
            body = platform::array();
            Value crash = platform::dict();
            crash[keys::kPost] = record;
            crash[keys::kAction] = "submit";
            Value registration = platform::dict();
            registration[keys::kPost] = pending;
            registration[keys::kAction] = "register";
            body.push_back(std::move(crash));
            body.push_back(std::move(registration));
        } else {
            request = builder.buildRequestWithReprotAction("submit");
            body = record;
        }

        Value stored = platform::dict();
        stored[keys::kAction] = "submit";
        stored["body"] = record;
        auto crashes = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
        // The host's crash is made durable before the send, which the watchdog may cut short;
        // it is removed again once the server has taken it.
        std::string storedId;
        const bool storedFirst = !appex && crashes.saveReportData(stored, &storedId);

        const bool attempt = QuillonDeviceInfo::isReachableNetWork() && config.po == 0;
        bool sent = false;
        if (attempt) {
            const double timeout = appex ? static_cast<double>(config.to.load())
                                         : QuillonUncaughtExceptionHandler::sendTimeoutWithinBudget();
            if (appex || timeout > 0) {
                request.body = platform::toJSON(body, true);
                QuillonReportDataManager& manager =
                    reportManager ? *reportManager : QuillonReportDataManager::defaultManager();
                sent = appex ? manager.reportSyncData(request) : manager.reportSyncData(request, timeout);
            }
            // The registration went out with the crash: drop its stored copy.
            if (sent && !pending.is_null())
                QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath()).deleteLastData();
        }
        if (sent && storedFirst) {
            crashes.delReportSuccessData(std::vector<std::string>{storedId});
        } else if (!sent && !storedFirst) {
            // Not sent: keep it for the next launch (an extension's crash as well as the host's).
            crashes.saveReportData(stored);
        }
    });
}

Value QuillonReportDataUnit::getCrashData(std::uint64_t type, const platform::Exception& exception,
                                          const std::optional<std::string>& message) {
    Value record = platform::dict();
    record[keys::kDevice] = QuillonDeviceInfo::getDeviceInfo();
    record[keys::kCarrier] = QuillonDeviceInfo::getCarrierInfo();

    std::string trace;
    if (type == 0) {
        trace = stackTraceWithException(exception);
    } else if (type == 1) {
        trace = platform::textOrEmpty(exception.userInfo(), "stack trace");
    }
    Value event = platform::dict();
    event[keys::kName] = exception.name();
    event[keys::kEventText] = exception.reason() + "\n" + trace;
    event[keys::kEventTime] = platform::format("%.f", nowSeconds());

    event[keys::kBreadcrumbs] = userAndBreadcrumbs();
    if (message) event[keys::kMessage] = *message;
    event[keys::kEventType] = "2";

    record[keys::kEvent] = std::move(event);
    record[keys::kDiagnostics] = QuillonDiagnosticManager::defaultManager().getDiagnosticInfo();
    if (QuillonConfiguration::isLogEnabled())
        QuillonConfiguration::logWithLevel(4, "Crash Data:%s", platform::describe(record).c_str());
    return record;
}

std::string QuillonReportDataUnit::stackTraceWithException(const platform::Exception& exception) {
    return joinLines(QuillonUncaughtExceptionHandler::symbolicate(exception.callStackReturnAddresses()));
}

void QuillonReportDataUnit::reportSDKException(const std::exception& exception, const std::string& message) {
    if (auto* e = dynamic_cast<const platform::Exception*>(&exception)) {
        reportSDKException(e->description(), message);
    } else {
        reportSDKException(std::string(exception.what()), message);
    }
}

void QuillonReportDataUnit::reportSDKException(const std::string& description, const std::string&) {
    platform::log("SDK error:" + description);
}

Value QuillonReportDataUnit::initCachData() const {
    const Value* body = initCachData_.load();
    return body ? *body : Value();
}

void QuillonReportDataUnit::setInitCachData(const Value& body) {
    // Old bodies are never freed: a crash on another thread may be reading one.
    initCachData_.store(body.is_null() ? nullptr : new Value(body));
}

platform::Value QuillonReportDataUnit::userAndBreadcrumbs() const {
    Value une = platform::dict();
    une["une"] = user.load().value_or("");
    Value bbs = platform::dict();
    QuillonLogDataManager* logs = QuillonLogDataManager::activeInstance();
    bbs["bbs"] = logs ? Value(logs->cacheLogs()) : platform::array();
    Value csc = platform::array();
    csc.push_back(std::move(une));
    csc.push_back(std::move(bbs));
    return csc;
}
