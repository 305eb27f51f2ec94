#include "reliclass/QuillonNetworkBuilder.h"

#include "platform/foundation/DateFormat.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonServerHosts.h"

#include <quillon/detail/RecordKeys.h>

namespace {
std::string quoted(const std::string& s) {
    return platform::Value(s).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
std::string member(const char* key, const std::string& quotedValue) { return "\"" + std::string(key) + "\":" + quotedValue; }
}  // namespace

QuillonNetworkBuilder& QuillonNetworkBuilder::defaultBuilder() {
    static QuillonNetworkBuilder* instance = new QuillonNetworkBuilder;
    return *instance;
}

std::string QuillonNetworkBuilder::envelope(const std::string& appKey, double time, const std::string& action) {
    namespace keys = quillon::record;
    return "{" + member(keys::kAppKey, quoted(appKey)) + "," +
           member(keys::kEnvelopeTime, quoted(platform::formatWholeSeconds(time))) + "," +
           member(keys::kAction, quoted(action)) + "," + member(keys::kProtocol, "\"5.2.0\"") + "," +
           member(keys::kEnvelopeType, "\"1\"") + "}";
}

platform::URLRequest QuillonNetworkBuilder::build(const std::string& url, const std::string& action) {
    const auto& key = QuillonReportDataUnit::shareStance().appKey;
    // A missing key is rendered the way the platform formats a missing object.
    platform::Value headers = platform::dict();
    headers["UPLOAD-JSON"] = envelope(key ? *key : "(null)", platform::now(), action);
    return buildRequestWithHTTPHeaderFields(headers, url);
}

platform::URLRequest QuillonNetworkBuilder::buildRequestWithReprotAction(const std::string& action) {
    return build(quillon::crashURL(), action);
}

platform::URLRequest QuillonNetworkBuilder::buildRequestWithConfigAction(const std::string& action) {
    return build(quillon::configURL(), action);
}

platform::URLRequest QuillonNetworkBuilder::buildRequestWithHTTPHeaderFields(const platform::Value& headers,
                                                                             const std::string& url) {
    platform::URLRequest request;
    request.url = url;
    request.method = "POST";
    if (headers.is_object()) {
        for (const auto& item : headers.items()) {
            if (auto v = platform::stringValue(item.value())) request.setHeader(item.key(), *v);
        }
    }
    return request;
}
