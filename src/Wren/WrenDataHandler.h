// Gets a feedback report to the feedback server: the screenshot to the file store, then the
// report with the stored file's URL. Without a usable network, or when either step fails,
// the report waits in a one-report cache ("report.data") and goes out at the next start.
//
// Report dictionary keys: "modifiedImageData" (bytes), "modifiedImageKey", "commentText",
// "contactText", "operation" (array of strings), "userData" (array of single-entry
// dictionaries).
#pragma once

#include "Wren/WrenReportData.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <memory>
#include <optional>

class WrenPreferences;

class WrenDataHandler {
public:
    // Called once per submission when it is over: true when the report reached the server,
    // false when it went to the cache. Runs on the thread that finished it.
    using FinishedHandler = std::function<void(bool sent)>;

    explicit WrenDataHandler(WrenPreferences& preferences);  // initWithPreferences
    ~WrenDataHandler();
    WrenDataHandler(const WrenDataHandler&) = delete;
    WrenDataHandler& operator=(const WrenDataHandler&) = delete;

    // Submits a report with its device record. Returns at once; the transfers complete on
    // the HTTP session's callback queue.
    void reportData(const platform::Value& report, const platform::Value& deviceInfo);
    // At start: loads the cache and sends the cached report if there is one and the network
    // is usable.
    void checkAndUploadCacheData();

    // A copy of the cached record; nullopt until the cache file has been loaded.
    std::optional<WrenReportData> reportData() const;
    WrenPreferences& preferences() const;

    void setFinishedHandler(FinishedHandler handler);

    // The handler's shared state (internal).
    struct State;

private:
    std::shared_ptr<State> state_;
};
