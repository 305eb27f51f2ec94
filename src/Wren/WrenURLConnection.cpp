#include "Wren/WrenURLConnection.h"

#include "Wren/WrenURLProtocolManager.h"
#include "platform/foundation/Logger.h"
#include "reliclass/QuillonServerHosts.h"

platform::URLRequest WrenURLConnection::makeRequest(const std::string& body) {
    platform::URLRequest request;
    request.url = quillon::feedbackURL();
    request.timeoutSeconds = 20.0;
    request.method = "POST";
    request.body = body;
    request.setHeader("Content-Type", "application/json");
    request.setHeader("Content-Length", platform::format("%lu", static_cast<unsigned long>(body.size())));
    return request;
}

void WrenURLConnection::requestWithType(int type, const WrenURLProtocolManager& protocolManager,
                                        Completion completion) {
    // A body that cannot be made goes out empty; the server's refusal fails the submission.
    platform::URLRequest request = makeRequest(protocolManager.makeReportData().value_or(""));
    platform::log("request:" + request.description());
    platform::URLSession::shared().dataTask(std::move(request), [completion = std::move(completion)](
                                                                    const platform::URLResult& result) {
        if (completion) completion(result.data, result.response, result.error);
    });
}
