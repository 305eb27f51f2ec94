#include "Wren/WrenRequestManager.h"

#include "Wren/WrenDeviceInfo.h"
#include "Wren/WrenImgCloudManager.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenURLConnection.h"
#include "Wren/WrenURLProtocolManager.h"
#include "platform/foundation/Logger.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex gManagerMutex;
std::shared_ptr<WrenImgCloudManager> gManager;

std::optional<std::string> optionalText(const platform::Value& v, const char* key) {
    const platform::Value* f = platform::find(v, key);
    return f ? platform::stringValue(*f) : std::nullopt;
}

std::optional<platform::Value> optionalArray(const platform::Value& v, const char* key) {
    const platform::Value* f = platform::find(v, key);
    if (f == nullptr || !f->is_array()) return std::nullopt;
    return *f;
}

}  // namespace

std::shared_ptr<WrenImgCloudManager> WrenRequestManager::imgCloudManager() {
    std::lock_guard lock(gManagerMutex);
    if (!gManager) gManager = std::make_shared<WrenImgCloudManager>();
    return gManager;
}

void WrenRequestManager::setImgCloudManager(std::shared_ptr<WrenImgCloudManager> manager) {
    std::lock_guard lock(gManagerMutex);
    gManager = std::move(manager);
}

void WrenRequestManager::requestUploadImageToCloud(const platform::Bytes& image, UploadCompletion completion) {
    imgCloudManager()->uploadData(image, [completion = std::move(completion)](const std::optional<WrenError>& error,
                                                                              const std::string& key) {
        if (completion) completion(!error.has_value(), key);
    });
}

void WrenRequestManager::requestDataReport(const platform::Value& report, const platform::Value& deviceInfo,
                                           ReportCompletion completion) {
    if (WrenDeviceInfo::networkStatus() == 0) {
        if (completion) completion(false);
        return;
    }
    auto& preferences = WrenPreferences::sharedInstance();
    WrenURLProtocolManager manager;
    manager.originalImageKeys = std::nullopt;
    manager.modifiedImageKeys = platform::array();
    if (auto key = optionalText(report, "modifiedImageKey")) manager.modifiedImageKeys.push_back(*key);
    manager.message = optionalText(report, "commentText");
    manager.contact = optionalText(report, "contactText");
    manager.operationTrace = optionalArray(report, "operation");
    if (deviceInfo.is_object()) manager.deviceInfo = deviceInfo;
    manager.appKey = preferences.appKey();
    manager.type = preferences.feedbackType();
    manager.userDatas = optionalArray(report, "userData");

    WrenURLConnection::requestWithType(
        2, manager,
        [completion = std::move(completion)](const std::optional<std::string>& data,
                                             const std::optional<platform::HTTPResponse>& response,
                                             const std::optional<platform::URLError>&) {
            const long status = response ? response->statusCode : 0;
            if (status != 200) {
                std::fprintf(stderr, "[WRENSHAKE ERROR] response status code:%ld\n", status);
                if (completion) completion(false);
                return;
            }
            auto answer = WrenURLProtocolManager::parseData(data.value_or(""));
            platform::log("response:" + (answer ? platform::describe(*answer) : std::string("(null)")));
            const platform::Value* code = answer ? platform::find(*answer, "code") : nullptr;
            const bool present = code != nullptr && !code->is_null();
            if (present && platform::integerValue(*code) != 0) {
                std::fprintf(stderr, "[WRENSHAKE ERROR] report data error:%s code:%ld \n",
                             platform::textOrEmpty(*answer, "msg").c_str(),
                             static_cast<long>(platform::integerValue(*code)));
            }
            if (completion) completion(present && platform::integerValue(*code) == 0);
        });
}
