#include "reliclass/QuillonReportDataManager.h"

#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonGuard.h"
#include "reliclass/QuillonNetworkBuilder.h"

#include <memory>
#include <vector>

#include <quillon/detail/RecordKeys.h>

namespace keys = quillon::record;

using platform::Value;

QuillonReportDataManager& QuillonReportDataManager::defaultManager() {
    static QuillonReportDataManager* instance = new QuillonReportDataManager;
    return *instance;
}

std::string QuillonReportDataManager::JSONData2String(const Value& object) { return platform::toJSON(object, true); }

bool QuillonReportDataManager::isSuccessAnswer(const std::optional<std::string>& data, Value* parsed) {
    if (!data) return false;
    auto answer = platform::parseJSON(*data);
    if (!answer || !answer->is_object()) return false;
    if (parsed) *parsed = *answer;
    const Value* en = platform::find(*answer, "en");
    return en == nullptr || platform::integerValue(*en) == 0;
}

void QuillonReportDataManager::reportData(platform::URLRequest request, Handler handler) {
    quillon::guarded([&] {
        request.timeoutSeconds = 30.0;
        platform::URLSession::shared().dataTask(std::move(request), [handler](const platform::URLResult& result) {
            quillon::guarded([&] {
                if (handler) handler(result.response, result.data, result.error);
            });
        });
    });
}

bool QuillonReportDataManager::reportSyncData(platform::URLRequest request) {
    return reportSyncData(std::move(request), static_cast<double>(QuillonConfiguration::shareConfiguration().to.load()));
}

bool QuillonReportDataManager::reportSyncData(platform::URLRequest request, double timeoutSeconds) {
    request.timeoutSeconds = timeoutSeconds;
    // A crash of this process never loads the HTTP library: without it loaded (or loading) the
    // report counts as offline. An extension's report comes from a healthy process.
    const auto load = QuillonConfiguration::shareConfiguration().appex.load() ? platform::TransportLoad::OnDemand
                                                                              : platform::TransportLoad::IfStarted;
    platform::URLResult result = platform::URLSession::shared().sendSynchronous(request, load);
    if (result.error) QuillonConfiguration::logWithLevel(1, "reportSyncData:%s", result.error->description().c_str());
    if (!result.data) return false;
    auto answer = platform::parseJSON(*result.data);
    if (!answer) return false;
    QuillonConfiguration::logWithLevel(4, "report sync data result= [%s]", result.data->c_str());
    if (!answer->is_object()) return false;
    const Value* en = platform::find(*answer, "en");
    return en == nullptr || platform::integerValue(*en) == 0;
}

void QuillonReportDataManager::reportCacheData(const std::string& path) { reportCacheData(path, nullptr); }

void QuillonReportDataManager::reportCacheData(const std::string& path, std::function<void()> done) {
    bool started = quillon::guarded([&] {
        if (QuillonDataFileManager::fileManagerWith(path).getCacheRecordCount() < 1) return false;
        Value entries = QuillonDataFileManager::fileManagerWith(path).getReportEntries();
        Value batch = platform::array();
        std::vector<std::string> sentIds;
        for (const auto& entry : entries) {
            auto id = platform::stringValue(platform::find(entry, "dataId") ? entry.at("dataId") : Value());
            const Value* payload = id ? platform::find(entry, *id) : nullptr;
            if (!payload) continue;
            Value item = platform::dict();
            const Value* ac = platform::find(*payload, keys::kAction);
            const Value* body = platform::find(*payload, "body");
            item[keys::kAction] = ac ? *ac : Value();
            item[keys::kPost] = JSONData2String(body ? *body : Value());
            batch.push_back(std::move(item));
            sentIds.push_back(*id);
        }
        if (batch.empty()) return false;

        platform::URLRequest request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("submore");
        std::string text = platform::toJSON(batch, true);
        QuillonConfiguration::logWithLevel(4, "post data:%s", text.c_str());
        request.body = std::move(text);
        if (!QuillonDeviceInfo::isReachableNetWork()) return false;
        request.timeoutSeconds = 30.0;
        platform::URLSession::shared().dataTask(
            std::move(request), [path, sentIds = std::move(sentIds), done](const platform::URLResult& result) {
                quillon::guarded([&] {
                    if (result.error || !result.response || result.response->statusCode != 200 || !result.data) return;
                    QuillonConfiguration::logWithLevel(4, "report cache result = [%s]", result.data->c_str());
                    auto store = QuillonDataFileManager::fileManagerWith(path);
                    if (isSuccessAnswer(result.data)) {
                        store.delReportSuccessData(sentIds);
                    } else {
                        store.updateFailedCount();
                    }
                });
                if (done) done();
            });
        return true;
    }, false);
    if (!started && done) done();
}
