#include "Wren/WrenImgCloudManager.h"

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/Logger.h"
#include "reliclass/QuillonServerHosts.h"

#include <cstdio>

namespace {

// Appended to the signed text before hashing; never sent.
constexpr const char* kSigningKey = "K3TRVQW9PLMZ2XH7";

}  // namespace

std::string md5WithString(const std::string& string) { return platform::md5Hex(string); }

platform::URLRequest WrenImgCloudManager::makeRequestWithData(const platform::Bytes& data,
                                                              std::optional<double> now) const {
    const std::string timestamp = platform::formatWholeSeconds(now.value_or(platform::now()));
    // The values go in bare, without quotation marks: the header is not strict JSON.
    const std::string params =
        platform::format("\"apikey\":%s,\"op\":%s,\"suffix\":%s,\"tag\":%s,\"timestamp\":%s,\"uid\":%d", kApiKey,
                         kOperation, kSuffix, kTag, timestamp.c_str(), kUid);
    const std::string signedText = platform::format("apikey=%sop=%ssuffix=%stag=%stimestamp=%suid=%d", kApiKey,
                                                    kOperation, kSuffix, kTag, timestamp.c_str(), kUid);
    const std::string sig = md5WithString(signedText + kSigningKey);

    platform::URLRequest request;
    request.url = quillon::fileStoreURL();
    request.timeoutSeconds = 15.0;
    request.method = "POST";
    request.body.assign(data.begin(), data.end());
    request.setHeader("UPLOAD-JSON", platform::format("{%s,\"sig\":%s}", params.c_str(), sig.c_str()));
    return request;
}

void WrenImgCloudManager::uploadData(const platform::Bytes& data, Completion completion) const {
    platform::URLSession::shared().dataTask(makeRequestWithData(data),
                                            [completion = std::move(completion)](const platform::URLResult& result) {
                                                handleResult(result, completion);
                                            });
}

void WrenImgCloudManager::uploadData(const platform::Bytes&, const std::string&, Completion) const {}

void WrenImgCloudManager::handleResult(const platform::URLResult& result, const Completion& completion) {
    if (!completion) return;
    if (result.error) {
        completion(WrenError::fromURLError(*result.error), "");
        return;
    }
    const long status = result.response ? result.response->statusCode : 0;
    std::optional<platform::Value> answer;
    std::optional<WrenError> error;
    if (status == 200 && result.data && !result.data->empty()) {
        answer = platform::parseJSON(*result.data);
        if (answer) {
            const platform::Value* code = platform::find(*answer, "code");
            if (code != nullptr && platform::integerValue(*code) != 0) {
                std::fprintf(stderr, "[WRENSHAKE ERROR] upload image error. %s\n",
                             platform::textOrEmpty(*answer, "msg").c_str());
            } else {
                const platform::Value* data = platform::find(*answer, "data");
                if (data != nullptr && data->is_structured() && !data->empty()) {
                    std::string key;
                    if (const auto* info = platform::find(*data, "fileinfo")) key = platform::textOrEmpty(*info, "fileUrl");
                    completion(std::nullopt, key);
                    return;
                }
                error = WrenError{"upload response data error.", -100, *answer};
            }
        }
    }
    if (!error) error = WrenError{"upload error.", status, answer ? *answer : platform::Value()};
    completion(error, "");
}
