// Builds the crash side's requests: URL, method and the "UPLOAD-JSON" envelope header.
// Callers set the body and hand the request to the uploader.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/net/URLSession.h"

#include <string>

class QuillonNetworkBuilder {
public:
    static QuillonNetworkBuilder& defaultBuilder();

    platform::URLRequest buildRequestWithReprotAction(const std::string& action);
    platform::URLRequest buildRequestWithConfigAction(const std::string& action);
    // A POST request for the URL whose header fields are exactly the given dictionary.
    platform::URLRequest buildRequestWithHTTPHeaderFields(const platform::Value& headers, const std::string& url);

    // The envelope: {"ak":..,"tm":..,"ac":..,"pro":"5.2.0","ty":"1"} on one line. Values are
    // JSON-escaped, so any application key still yields valid JSON; ordinary values give the
    // same bytes as plain insertion.
    static std::string envelope(const std::string& appKey, double time, const std::string& action);

private:
    QuillonNetworkBuilder() = default;
    platform::URLRequest build(const std::string& url, const std::string& action);
};
