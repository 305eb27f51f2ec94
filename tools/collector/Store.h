// SQLite storage of everything the collector received: crash-side records (one row per
// registration, crash, exception or configuration body, batch items unpacked), feedback
// reports, uploaded files and rejected requests.
#pragma once

#include "Symbolication.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace collector {

struct RecordSummary;

using Json = nlohmann::ordered_json;

struct Record {
    std::string path;        // server path the request arrived on
    std::string ak;          // envelope application key
    std::string tm;          // envelope time text
    std::string ac;          // envelope action
    std::string itemAc;      // the item's own action (equal to ac outside batches)
    Json body;               // decoded body of the item
    std::string name;        // crash/exception name (data.name), or ""
    std::string reason;      // first line of data.et
    std::string backtrace;   // the rest of data.et
    std::string answer;      // answer mode used for the request
};

// Fills name/reason/backtrace from body.data.name and body.data.et when present; name and
// reason cut to kMaxNameBytes and kMaxReasonBytes.
inline constexpr std::size_t kMaxNameBytes = 1024;
inline constexpr std::size_t kMaxReasonBytes = 4096;
void extractException(Record& r);

class Store {
public:
    // path ":memory:" keeps everything in memory. Throws std::runtime_error on failure.
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // All records of one request in one transaction; returns their ids.
    std::vector<std::int64_t> addRecords(const std::vector<Record>& records);
    std::int64_t addFeedback(const std::string& appkey, const std::string& type, const std::string& message,
                             const Json& body, const std::string& answer);
    std::int64_t addFile(const std::string& header, const std::string& data, const std::string& answer);
    void addReject(const std::string& path, const std::string& reason, const std::string& detail);

    std::optional<std::string> fileData(std::int64_t id);
    Json records();
    Json feedback();
    Json files();
    Json rejects();
    void reset();

    // Works out every record's summary (group, masked reason, first application frame, ...)
    // again, e.g. after symbols became known; in batches, with other requests served between them.
    void regroup(const FrameResolver* resolver);

    // What the web page shows. Filters: application key ("" for all) and a text that must
    // occur in the exception name, reason or backtrace ("" for all).
    Json crashGroups(const std::string& ak, const std::string& text);
    Json crashesPerDay(double from, const std::string& ak);  // [{"day": N (days since 1970), "count": N}]
    Json groupCrashes(const std::string& groupId, int limit);
    std::optional<Json> record(std::int64_t id);
    Json exceptionGroups(const std::string& ak, const std::string& text);
    Json registrations(const std::string& ak);
    Json appKeys();
    Json feedbackPage(int limit, int offset);
    std::optional<Json> feedbackItem(std::int64_t id);
    std::int64_t feedbackCount();
    // Closes the database; later calls fail quietly.
    void close();

private:
    void exec(const char* sql);
    void regroupLocked(const FrameResolver* resolver);
    static RecordSummary summaryOf(const std::string& ak, const std::string& itemAc, const std::string& body,
                                   const std::string& name, const std::string& reason, const std::string& backtrace,
                                   double time, const FrameResolver* resolver);
    void writeSummary(std::int64_t id, const RecordSummary& sum);
    std::mutex mutex_;
    std::mutex regroupMutex_;
    sqlite3* db_ = nullptr;
};

double nowSeconds();

}  // namespace collector
