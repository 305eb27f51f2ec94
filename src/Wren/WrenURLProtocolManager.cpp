#include "Wren/WrenURLProtocolManager.h"

#include "SyslogClient/SyslogClient.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Logger.h"

#include <random>

std::string randomString() {
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<int> letter(0, 25);
    std::string s(10, 'A');
    for (char& c : s) c = static_cast<char>('A' + letter(engine));
    return s;
}

std::string WrenURLProtocolManager::typeName(std::int32_t type) {
    static const char* names[] = {"PROBLEM", "CRASH", "FEEDBACK", "DEBUG", "OTHER"};
    if (type < 0 || type > 4) return "";
    return names[type];
}

platform::Value WrenURLProtocolManager::dictMessagesData() const {
    platform::Value data = platform::dict();
    const std::string name = typeName(type);
    const std::string issueId = randomString();
    platform::Value keys = platform::dict();
    keys["original"] = platform::array();
    keys["modified"] = modifiedImageKeys.is_array() ? modifiedImageKeys : platform::array();
    data["type"] = name;
    // Without a message the object ends here, as the keys after it are not set.
    if (!message) return data;
    data["message"] = *message;
    if (contact) data["contact"] = *contact;
    data["issueid"] = issueId;
    data["keys"] = std::move(keys);
    return data;
}

platform::Value WrenURLProtocolManager::dictMessages() const {
    platform::Value msg = platform::dict();
    msg["group"] = "";
    msg["timestamp"] = platform::now();
    msg["data"] = dictMessagesData();
    platform::Value messages = platform::array();
    messages.push_back(std::move(msg));
    return messages;
}

std::optional<std::string> WrenURLProtocolManager::makeReportData() const {
    const auto& bundle = platform::Bundle::main();
    platform::Value body = platform::dict();
    body["client_type"] = 1;
    body["packetid"] = randomString();
    body["appkey"] = appKey.value_or("");
    body["app_version"] = bundle.infoString("CFBundleShortVersionString").value_or("");
    body["version_code"] = bundle.infoString("CFBundleVersion").value_or("");
    body["messages"] = dictMessages();
    body["device"] = deviceInfo && deviceInfo->is_object() ? *deviceInfo : platform::dict();

    // User data flattened into one object; a later entry with the same key wins.
    platform::Value flat = platform::dict();
    if (userDatas && userDatas->is_array()) {
        for (const auto& entry : *userDatas) {
            if (entry.is_object() && !entry.empty()) flat[entry.begin().key()] = entry.begin().value();
        }
    }
    const std::string userData = platform::toJSON(flat, true);

    const auto lines = SyslogClient::logs();
    std::string logs;
    if (!lines.empty()) logs = platform::toJSON(platform::Value(lines), true);

    body["logs"] = logs;
    body["operatetrace"] = operationTrace && operationTrace->is_array() ? *operationTrace : platform::array();
    body["user_data"] = userData;

    platform::log("report data:" + platform::describe(body));
    // Text that is not valid UTF-8 is replaced rather than failing the whole report.
    std::string text = platform::toJSON(body, true);
    if (text.empty() || text == "null") {
        platform::logf("makeReportDataWithType Serialization error domain:%s description:%s", "NSCocoaErrorDomain",
                       "Invalid value in JSON write");
        return std::nullopt;
    }
    return text;
}

std::optional<platform::Value> WrenURLProtocolManager::parseData(const std::string& data) {
    auto v = platform::parseJSON(data);
    if (!v) {
        platform::logf("parseData Serialization error domain:%s description:%s", "NSCocoaErrorDomain",
                       "The data couldn't be read because it isn't in the correct format.");
    }
    return v;
}
