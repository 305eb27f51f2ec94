// The feedback side's transport: posts one feedback report to the feedback server.
#pragma once

#include "platform/net/URLSession.h"

#include <functional>
#include <optional>
#include <string>

class WrenURLProtocolManager;

class WrenURLConnection {
public:
    // Response body, response, transport error, in this order.
    using Completion = std::function<void(const std::optional<std::string>& data,
                                          const std::optional<platform::HTTPResponse>& response,
                                          const std::optional<platform::URLError>& error)>;

    // Builds the body from the report, posts it to the feedback URL with a 20 s time-out and
    // "Content-Type"/"Content-Length", and calls the completion on the session's callback
    // queue. The type is not used.
    static void requestWithType(int type, const WrenURLProtocolManager& protocolManager, Completion completion);

    // The request that requestWithType sends for the given body.
    static platform::URLRequest makeRequest(const std::string& body);
};
