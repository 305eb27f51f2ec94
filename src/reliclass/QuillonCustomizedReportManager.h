// Reports of problems the host caught itself (an exception object, or an error of an
// embedded C++, Lua, JavaScript or C# runtime): each becomes a record shaped like a crash
// report, pooled in "Quillon/ExceptionData" where identical reports are counted, and the
// pool is sent as one "submore" request when it holds `ep` occurrences and at every launch.
#pragma once

#include "platform/foundation/Exception.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

class QuillonCustomizedReportManager {
public:
    static QuillonCustomizedReportManager& defaultManager();

    // Type codes: 1 "cpp", 3 "lua", 4 "js", 5 "C#"; anything else is dropped.
    void reportCustomizedException(std::int32_t type, const std::optional<std::string>& message,
                                   const std::optional<std::string>& stackTrace);
    // kind 0: an exception object whose trace is its own return addresses.
    void reportCustomizedException(const platform::Exception& exception, std::uint64_t reportType,
                                   const std::optional<std::string>& message);
    // Builds the record for `exception` with the message last set, pools it and sends the
    // pool when it is due.
    void handelException(std::uint64_t type, const platform::Exception& exception);
    // Sends the whole pool; a success answer removes the entries that were sent.
    void reportDataToServer();

    bool isHaveException(const std::string& identifier);
    static std::string getReportType(std::uint64_t type);
    static std::string JSONData2String(const platform::Value& object);

    std::uint64_t handleCount() const { return handleCount_.load(); }
    std::optional<std::string> customizedMessage() const;
    void setCustomizedMessage(const std::optional<std::string>& message);

    // The identifier under which an event is pooled: its "et" followed by its message
    // (a missing message counts as the empty one).
    static std::string identifierFor(const platform::Value& event);

private:
    QuillonCustomizedReportManager() = default;
    void handle(std::uint64_t type, const platform::Exception& exception, const std::optional<std::string>& message);
    // A pool that is due is sent from a background thread, never the reporting caller's.
    // After a batch that was not taken (no connection, or a failure answer), reports only
    // pool for kRetryAfterFailureSeconds: the same batch is not rebuilt for every report
    // while the server cannot take it. The next launch sends the pool whatever the pause.
    void sendPoolInBackground();
    // Builds and sends the batch; true when a request went out, whose handling ends with
    // `answered` (also on a transport error), told whether the server took the batch.
    bool sendPool(std::function<void(bool taken)> answered);

    static constexpr double kRetryAfterFailureSeconds = 30.0;
    std::atomic<bool> sendInFlight_{false};
    std::atomic<double> retryNotBefore_{0};  // steady-clock seconds

    std::atomic<std::uint64_t> handleCount_{0};
    mutable std::mutex messageLock_;
    std::optional<std::string> customizedMessage_;
};
