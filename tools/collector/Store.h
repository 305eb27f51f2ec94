// Storage of everything the collector received: crash-side records (one row per
// registration, crash, exception or configuration body, batch items unpacked), feedback
// reports, uploaded files and rejected requests; and what collector processes sharing the
// database share besides (settings, symbol files). SQLite or PostgreSQL (see Database.h).
#pragma once

#include "Database.h"
#include "Symbolication.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
    // An SQLite path (":memory:" keeps everything in memory) or a PostgreSQL connection
    // string; brings the schema up to date. Throws std::runtime_error on failure.
    explicit Store(const std::string& path);
    // The schema version a store is at once opened.
    static int schemaVersion();
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
    // Stops before the next batch once keepGoing (when given) answers false.
    void regroup(const FrameResolver* resolver, const std::function<bool()>& keepGoing = {});

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
    // Named values shared by every process on the database (e.g. the live answer policy).
    std::optional<std::string> setting(const std::string& name);
    void setSetting(const std::string& name, const std::string& value);

    // Symbol files by application key, version and image. putSymbolFile answers whether it
    // replaced one; every put gives the file a new revision.
    bool putSymbolFile(const std::string& ak, const std::string& av, const std::string& image,
                       const std::string& text);
    std::optional<std::int64_t> symbolFileRevision(const std::string& ak, const std::string& av,
                                                   const std::string& image);
    std::optional<std::pair<std::int64_t, std::string>> symbolFile(const std::string& ak, const std::string& av,
                                                                  const std::string& image);
    std::vector<std::vector<std::string>> symbolFileKeys();  // {ak, av, image} each

    // Retention: removes the records, feedback reports, files and rejects that arrived before
    // `cutoff` (seconds since 1970), at most `batch` rows per statement, each its own
    // transaction, so that requests wait for one batch at most. Returns how many rows went.
    std::int64_t removeBefore(double cutoff, int batch = 1000);

    // Closes the database; later calls fail quietly.
    void close();

private:
    void exec(const char* sql);
    void rollback();
    void regroupLocked(const FrameResolver* resolver);
    static RecordSummary summaryOf(const std::string& ak, const std::string& itemAc, const std::string& body,
                                   const std::string& name, const std::string& reason, const std::string& backtrace,
                                   double time, const FrameResolver* resolver);
    void writeSummary(std::int64_t id, const RecordSummary& sum);
    // Recursive: resolving frames reads symbol files from this store, which a caller holding
    // the lock (a regroup's write, a record's transaction) may reach.
    std::recursive_mutex mutex_;
    std::mutex regroupMutex_;
    std::unique_ptr<Database> db_;
};

double nowSeconds();

}  // namespace collector
