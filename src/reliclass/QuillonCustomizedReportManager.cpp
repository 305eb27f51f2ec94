#include "reliclass/QuillonCustomizedReportManager.h"

#include "platform/foundation/Logger.h"
#include "platform/runtime/DispatchQueue.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonCustomizedException.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonDiagnosticManager.h"
#include "reliclass/QuillonGuard.h"
#include "reliclass/QuillonNetworkBuilder.h"
#include "reliclass/QuillonReportDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"

#include <chrono>
#include <vector>

#include <quillon/detail/RecordKeys.h>

namespace keys = quillon::record;

using platform::Value;

namespace {

struct TypeCode {
    std::int32_t code;
    const char* name;
    std::uint64_t kind;
};
constexpr TypeCode kTypeCodes[] = {{1, "cpp", 1}, {3, "lua", 2}, {4, "js", 3}, {5, "C#", 4}};

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

QuillonCustomizedReportManager& QuillonCustomizedReportManager::defaultManager() {
    static QuillonCustomizedReportManager* instance = new QuillonCustomizedReportManager;
    return *instance;
}

std::optional<std::string> QuillonCustomizedReportManager::customizedMessage() const {
    std::lock_guard lock(messageLock_);
    return customizedMessage_;
}

void QuillonCustomizedReportManager::setCustomizedMessage(const std::optional<std::string>& message) {
    std::lock_guard lock(messageLock_);
    customizedMessage_ = message;
}

void QuillonCustomizedReportManager::reportCustomizedException(std::int32_t type,
                                                               const std::optional<std::string>& message,
                                                               const std::optional<std::string>& stackTrace) {
    quillon::guarded([&] {
        const TypeCode* match = nullptr;
        for (const auto& t : kTypeCodes)
            if (t.code == type) match = &t;
        if (!match) return;
        setCustomizedMessage(message);
        Value userInfo = platform::dict();
        userInfo["stack trace"] = stackTrace ? Value(*stackTrace) : Value();
        auto exception = QuillonCustomizedException::exceptionWithName(match->name, "", userInfo, message);
        handle(match->kind, exception, message);
    });
}

void QuillonCustomizedReportManager::reportCustomizedException(const platform::Exception& exception,
                                                               std::uint64_t reportType,
                                                               const std::optional<std::string>& message) {
    setCustomizedMessage(message);
    // The message travels with the call, so concurrent reports never swap messages.
    handle(reportType, exception, message);
}

void QuillonCustomizedReportManager::handelException(std::uint64_t type, const platform::Exception& exception) {
    handle(type, exception, customizedMessage());
}

void QuillonCustomizedReportManager::handle(std::uint64_t type, const platform::Exception& exception,
                                            const std::optional<std::string>& message) {
    quillon::guarded([&] {
        std::string trace;
        if (type == 0) {
            if (exception.name() == "lua") {
                trace = platform::textOrEmpty(exception.userInfo(), "stack trace");
            } else {
                auto lines = QuillonUncaughtExceptionHandler::symbolicate(exception.callStackReturnAddresses());
                for (std::size_t i = 0; i < lines.size(); ++i) {
                    if (i) trace += '\n';
                    trace += lines[i];
                }
            }
        } else if (type >= 1 && type <= 4) {
            trace = platform::textOrEmpty(exception.userInfo(), "stack trace");
        }
        const std::string et = exception.reason() + "\n" + trace;
        // A report without a message is pooled under its event text alone.
        const std::string identifier = et + message.value_or("");

        auto& config = QuillonConfiguration::shareConfiguration();
        config.appex = false;
        QuillonConfiguration::AppexScope hostRecord(false, Value());

        Value record = platform::dict();
        record[keys::kDevice] = QuillonDeviceInfo::getDeviceInfo();
        record[keys::kCarrier] = QuillonDeviceInfo::getCarrierInfo();
        Value event = platform::dict();
        event[keys::kName] = exception.name();
        event[keys::kEventText] = et;
        event[keys::kEventTime] = platform::format("%.f", nowSeconds());
        event[keys::kBreadcrumbs] = QuillonReportDataUnit::shareStance().userAndBreadcrumbs();
        if (message) event[keys::kMessage] = *message;
        event[keys::kEventType] = getReportType(type);
        event[keys::kCount] = "1";
        record[keys::kEvent] = std::move(event);
        record[keys::kDiagnostics] = QuillonDiagnosticManager::defaultManager().getDiagnosticInfo();

        Value entry = platform::dict();
        entry[keys::kAction] = "exception";
        entry[keys::kPost] = std::move(record);
        if (QuillonConfiguration::isLogEnabled())
            QuillonConfiguration::logWithLevel(4, "Exception Data:%s", platform::describe(entry).c_str());

        // The total comes from the save itself: no second pass over the pool.
        std::uint64_t total = 0;
        const std::string path = QuillonDataFileManager::exceptionDataPath();
        if (!QuillonDataFileManager::fileManagerWith(path).saveException(entry, identifier, config.ep, &total))
            total = QuillonDataFileManager::fileManagerWith(path).getExceptionDataCount();
        handleCount_.store(total);
        if (total >= static_cast<std::uint64_t>(config.ep)) sendPoolInBackground();
    });
}

void QuillonCustomizedReportManager::sendPoolInBackground() {
    // One batch at a time: while one is being built or awaits its answer, later reports only
    // add to the pool, which that batch's answer leaves for the next trigger.
    const auto steadySeconds = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    if (steadySeconds() < retryNotBefore_.load()) return;
    if (sendInFlight_.exchange(true)) return;
    platform::DispatchQueue::global().async([this, steadySeconds] {
        const bool sent = sendPool([this, steadySeconds](bool taken) {
            retryNotBefore_.store(taken ? 0 : steadySeconds() + kRetryAfterFailureSeconds);
            sendInFlight_.store(false);
        });
        if (!sent) sendInFlight_.store(false);
    });
}

void QuillonCustomizedReportManager::reportDataToServer() { sendPool(nullptr); }

bool QuillonCustomizedReportManager::sendPool(std::function<void(bool taken)> answered) {
    return quillon::guarded([&] {
        platform::URLRequest request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("submore");
        const Value pool = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath())
                               .getExceptionDatas();
        Value body = platform::array();
        std::vector<std::string> identifiers;
        if (pool.is_array()) {
            for (const auto& element : pool) {
                if (!element.is_object()) continue;
                const Value* ac = platform::find(element, keys::kAction);
                const Value* post = platform::find(element, keys::kPost);
                Value item = platform::dict();
                item[keys::kAction] = ac ? *ac : Value();
                item[keys::kPost] = JSONData2String(post ? *post : Value());
                body.push_back(std::move(item));
                const Value* data = post ? platform::find(*post, keys::kEvent) : nullptr;
                identifiers.push_back(identifierFor(data ? *data : Value()));
            }
        }
        if (body.empty()) return false;
        const std::string text = platform::toJSON(body, true);
        QuillonConfiguration::logWithLevel(4, "body data:%s", text.c_str());
        request.body = text;
        QuillonReportDataManager::defaultManager().reportData(
            std::move(request), [identifiers = std::move(identifiers), answered = std::move(answered)](
                                    const std::optional<platform::HTTPResponse>&, const std::optional<std::string>& data,
                                    const std::optional<platform::URLError>& error) {
                struct Done {
                    const std::function<void(bool)>& f;
                    bool taken = false;
                    ~Done() {
                        if (f) f(taken);
                    }
                } done{answered};
                if (error) return;
                QuillonConfiguration::logWithLevel(4, "response data:%s", data ? data->c_str() : "(null)");
                if (!QuillonReportDataManager::isSuccessAnswer(data)) return;
                done.taken = true;
                // Only what was sent: reports pooled while the request was out stay.
                QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath())
                    .deleteExceptionDatas(identifiers);
            });
        return true;
    }, false);
}

bool QuillonCustomizedReportManager::isHaveException(const std::string& identifier) {
    return QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath())
        .isHaveException(identifier);
}

std::string QuillonCustomizedReportManager::getReportType(std::uint64_t type) {
    switch (type) {
        case 0: return "2";
        case 1: return "1";
        case 2: return "3";
        case 3: return "4";
        case 4: return "5";
        default: return std::string();
    }
}

std::string QuillonCustomizedReportManager::JSONData2String(const Value& object) {
    return platform::toJSON(object, true);
}

std::string QuillonCustomizedReportManager::identifierFor(const Value& event) {
    return platform::textOrEmpty(event, keys::kEventText) + platform::textOrEmpty(event, keys::kMessage);
}
