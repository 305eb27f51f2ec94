// Sends the crash side's requests: asynchronously with a handler, synchronously at crash
// time, and as one "submore" batch that flushes a stored queue.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/net/URLSession.h"

#include <functional>
#include <optional>
#include <string>

class QuillonReportDataManager {
public:
    // (response, data, error), on the session's callback queue.
    using Handler = std::function<void(const std::optional<platform::HTTPResponse>& response,
                                       const std::optional<std::string>& data,
                                       const std::optional<platform::URLError>& error)>;

    static QuillonReportDataManager& defaultManager();

    // Time-out 30 s; the handler runs on the session's callback queue.
    void reportData(platform::URLRequest request, Handler handler);
    // Sends on the calling thread with the runtime configuration's time-out `to`; true when
    // the answer is a JSON object whose "en" is 0 (a missing "en" counts as 0).
    bool reportSyncData(platform::URLRequest request);
    // The same with an explicit time-out (the crash path's share of its budget).
    bool reportSyncData(platform::URLRequest request, double timeoutSeconds);
    // Flushes the queue stored at `path` as one "submore" batch. A success answer removes the
    // entries that were sent; an HTTP 200 answer without success charges the oldest entry one
    // failed attempt; transport errors and other statuses change nothing.
    void reportCacheData(const std::string& path);
    // Same, calling `done` once the flush has finished (sent and answered, or not sent).
    void reportCacheData(const std::string& path, std::function<void()> done);

    static std::string JSONData2String(const platform::Value& object);
    // True when `data` parses as a JSON object whose "en" reads as 0 (missing counts as 0).
    static bool isSuccessAnswer(const std::optional<std::string>& data, platform::Value* parsed = nullptr);

private:
    QuillonReportDataManager() = default;
};
