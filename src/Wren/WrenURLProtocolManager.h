// One feedback report in memory: turns it into the JSON body posted to the feedback server
// and decodes the server's JSON answer.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

// Ten upper-case letters "A" to "Z", each drawn uniformly and independently.
std::string randomString();

class WrenURLProtocolManager {
public:
    std::optional<std::string> message;       // the comment
    std::optional<std::string> contact;       // absent: no "contact" in the body
    std::optional<platform::Value> operationTrace;  // array of strings
    std::optional<platform::Value> userDatas;       // array of single-entry dictionaries
    std::optional<platform::Value> deviceInfo;      // the feedback device record
    std::optional<std::string> appKey;
    std::optional<platform::Value> originalImageKeys;  // not used in the body
    platform::Value modifiedImageKeys = platform::array();
    std::int64_t imageCount = 0;  // not used in the body
    std::int32_t type = 0;        // index into the report type names

    // "PROBLEM", "CRASH", "FEEDBACK", "DEBUG", "OTHER" for 0..4, "" otherwise.
    static std::string typeName(std::int32_t type);

    // The body as UTF-8 pretty-printed JSON; nullopt when it cannot be serialised.
    std::optional<std::string> makeReportData() const;
    // The answer decoded as JSON; nullopt (and a console line) when it is not JSON.
    static std::optional<platform::Value> parseData(const std::string& data);

    // The one-element "messages" array and its message data object.
    platform::Value dictMessages() const;
    platform::Value dictMessagesData() const;
};
