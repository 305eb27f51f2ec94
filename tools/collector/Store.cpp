#include "Store.h"

#include "Analysis.h"
#include "Ingest.h"

#include <quillon/detail/RecordKeys.h>

#include <sqlite3.h>

#include <chrono>
#include <stdexcept>

namespace collector {

namespace keys = quillon::record;

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void extractException(Record& r) {
    if (!r.body.is_object()) return;
    auto data = r.body.find(keys::kEvent);
    if (data == r.body.end() || !data->is_object()) return;
    // Name and reason are what the lists show and group by; they are cut (the body keeps them
    // whole) rather than refused, so that a crash with a long message is still counted.
    if (auto n = data->find(keys::kName); n != data->end() && n->is_string())
        r.name = clipText(n->get_ref<const std::string&>(), kMaxNameBytes);
    if (auto et = data->find(keys::kEventText); et != data->end() && et->is_string()) {
        const std::string& text = et->get_ref<const std::string&>();
        const auto nl = text.find('\n');
        r.reason = clipText(std::string_view(text).substr(0, nl), kMaxReasonBytes);
        r.backtrace = nl == std::string::npos ? std::string() : text.substr(nl + 1);
    }
}

namespace {

// Small RAII statement wrapper.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) {
        if (!db || sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            throw std::runtime_error(db ? sqlite3_errmsg(db) : "database closed");
    }
    ~Stmt() { sqlite3_finalize(st_); }
    Stmt& text(int i, const std::string& s) {
        sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& blob(int i, const std::string& s) {
        sqlite3_bind_blob(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& real(int i, double v) {
        sqlite3_bind_double(st_, i, v);
        return *this;
    }
    Stmt& integer(int i, std::int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    bool step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(st_)));
    }
    std::string col(int i) const {
        auto p = sqlite3_column_blob(st_, i);
        return p ? std::string(static_cast<const char*>(p), sqlite3_column_bytes(st_, i)) : std::string();
    }
    std::int64_t colInt(int i) const { return sqlite3_column_int64(st_, i); }
    void reset() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    double colReal(int i) const { return sqlite3_column_double(st_, i); }

private:
    sqlite3_stmt* st_ = nullptr;
};

// Stored bodies passed the ingest limits (the texts decoded inside a feedback body add a level
// of their own); one stored before them that goes beyond is shown as its text.
Json parsedOrText(const std::string& text) {
    auto v = parseJson(text, nullptr, 2 * kMaxJsonDepth, 4 * kMaxJsonValues);
    return v ? std::move(*v) : Json(validUtf8(text));
}

}  // namespace

Store::Store(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "cannot open database";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error(path + ": " + msg);
    }
    sqlite3_busy_timeout(db_, 2000);
    if (path != ":memory:") {
        // WAL lets "dump" read while the server writes; NORMAL skips an fsync per request.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
    }
    exec("CREATE TABLE IF NOT EXISTS records(id INTEGER PRIMARY KEY AUTOINCREMENT, time REAL, path TEXT, ak TEXT,"
         " tm TEXT, ac TEXT, item_ac TEXT, body TEXT, name TEXT, reason TEXT, backtrace TEXT, answer TEXT)");
    exec("CREATE TABLE IF NOT EXISTS feedback(id INTEGER PRIMARY KEY AUTOINCREMENT, time REAL, appkey TEXT,"
         " type TEXT, message TEXT, body TEXT, answer TEXT)");
    exec("CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY AUTOINCREMENT, time REAL, header TEXT,"
         " data BLOB, answer TEXT)");
    exec("CREATE TABLE IF NOT EXISTS rejects(id INTEGER PRIMARY KEY AUTOINCREMENT, time REAL, path TEXT,"
         " reason TEXT, detail TEXT)");
    // Summary columns for the web page; databases written before they existed get them added
    // and filled in.
    bool hasSummary = false;
    {
        Stmt st(db_, "SELECT 1 FROM pragma_table_info('records') WHERE name = 'gid'");
        hasSummary = st.step();
    }
    if (!hasSummary) {
        exec("ALTER TABLE records ADD COLUMN gid TEXT DEFAULT ''; ALTER TABLE records ADD COLUMN masked TEXT DEFAULT '';"
             " ALTER TABLE records ADD COLUMN topframe TEXT DEFAULT ''; ALTER TABLE records ADD COLUMN device TEXT"
             " DEFAULT ''; ALTER TABLE records ADD COLUMN av TEXT DEFAULT ''; ALTER TABLE records ADD COLUMN ov TEXT"
             " DEFAULT ''; ALTER TABLE records ADD COLUMN ctime REAL DEFAULT 0; ALTER TABLE records ADD COLUMN msg"
             " TEXT DEFAULT ''; ALTER TABLE records ADD COLUMN ct INTEGER DEFAULT 1;");
        regroupLocked(&frameResolver());
    }
    // Counts were once stored as sent; the sums of the pages need them saturated.
    exec("UPDATE records SET ct = 1000000000 WHERE ct > 1000000000");
    // The overview reads only these indexes, never the (large) rows themselves.
    exec("CREATE INDEX IF NOT EXISTS records_overview ON records(item_ac, gid, ctime, ak, device, av, ov);"
         "CREATE INDEX IF NOT EXISTS records_time ON records(item_ac, ctime, ak);"
         "CREATE INDEX IF NOT EXISTS records_ak ON records(ak)");
}

Store::~Store() { close(); }

void Store::close() {
    std::lock_guard lock(mutex_);
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void Store::exec(const char* sql) {
    char* err = nullptr;
    if (!db_ || sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "database closed";
        sqlite3_free(err);
        throw std::runtime_error(msg);
    }
}

std::vector<std::int64_t> Store::addRecords(const std::vector<Record>& records) {
    // Summaries (the backtrace read, symbols looked up) are worked out before the lock: the
    // lock covers the insert only, so one large record never holds another client's.
    const double t = nowSeconds();
    std::vector<RecordSummary> sums;
    std::vector<std::string> bodies;
    sums.reserve(records.size());
    bodies.reserve(records.size());
    for (const auto& r : records) {
        sums.push_back(summarize(r.ak, r.itemAc, r.body, r.name, r.reason, r.backtrace, t, &frameResolver()));
        bodies.push_back(r.body.dump());
    }
    std::lock_guard lock(mutex_);
    std::vector<std::int64_t> ids;
    exec("BEGIN");
    try {
        for (std::size_t i = 0; i < records.size(); ++i) {
            const Record& r = records[i];
            const RecordSummary& sum = sums[i];
            Stmt st(db_,
                    "INSERT INTO records(time, path, ak, tm, ac, item_ac, body, name, reason, backtrace, answer,"
                    " gid, masked, topframe, device, av, ov, ctime, msg, ct) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
            st.real(1, t).text(2, r.path).text(3, r.ak).text(4, r.tm).text(5, r.ac).text(6, r.itemAc)
                .text(7, bodies[i]).text(8, r.name).text(9, r.reason).text(10, r.backtrace).text(11, r.answer);
            st.text(12, sum.groupId).text(13, sum.masked).text(14, sum.topFrame).text(15, sum.device)
                .text(16, sum.appVersion).text(17, sum.osVersion).real(18, sum.crashTime).text(19, sum.message)
                .integer(20, sum.count);
            st.step();
            ids.push_back(sqlite3_last_insert_rowid(db_));
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return ids;
}

std::int64_t Store::addFeedback(const std::string& appkey, const std::string& type, const std::string& message,
                                const Json& body, const std::string& answer) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "INSERT INTO feedback(time, appkey, type, message, body, answer) VALUES(?,?,?,?,?,?)");
    st.real(1, nowSeconds()).text(2, appkey).text(3, type).text(4, message).text(5, body.dump()).text(6, answer);
    st.step();
    return sqlite3_last_insert_rowid(db_);
}

std::int64_t Store::addFile(const std::string& header, const std::string& data, const std::string& answer) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "INSERT INTO files(time, header, data, answer) VALUES(?,?,?,?)");
    st.real(1, nowSeconds()).text(2, validUtf8(header)).blob(3, data).text(4, answer);
    st.step();
    return sqlite3_last_insert_rowid(db_);
}

void Store::addReject(const std::string& path, const std::string& reason, const std::string& detail) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "INSERT INTO rejects(time, path, reason, detail) VALUES(?,?,?,?)");
    // Rejected requests are shown as JSON: whatever bytes they carried become valid text.
    st.real(1, nowSeconds()).text(2, validUtf8(path)).text(3, validUtf8(reason)).text(4, validUtf8(detail));
    st.step();
}

std::optional<std::string> Store::fileData(std::int64_t id) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT data FROM files WHERE id = ?");
    st.integer(1, id);
    if (!st.step()) return std::nullopt;
    return st.col(0);
}

Json Store::records() {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT id, time, path, ak, tm, ac, item_ac, body, name, reason, backtrace, answer"
                 " FROM records ORDER BY id");
    while (st.step()) {
        out.push_back({{"id", st.colInt(0)}, {"time", st.colReal(1)}, {"path", st.col(2)}, {"ak", st.col(3)},
                       {"tm", st.col(4)}, {"ac", st.col(5)}, {"item_ac", st.col(6)}, {"body", parsedOrText(st.col(7))},
                       {"name", st.col(8)}, {"reason", st.col(9)}, {"backtrace", st.col(10)},
                       {"answer", st.col(11)}});
    }
    return out;
}

Json Store::feedback() {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT id, time, appkey, type, message, body, answer FROM feedback ORDER BY id");
    while (st.step()) {
        out.push_back({{"id", st.colInt(0)}, {"time", st.colReal(1)}, {"appkey", st.col(2)}, {"type", st.col(3)},
                       {"message", st.col(4)}, {"body", parsedOrText(st.col(5))}, {"answer", st.col(6)}});
    }
    return out;
}

Json Store::files() {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT id, time, header, length(data), answer FROM files ORDER BY id");
    while (st.step()) {
        out.push_back({{"id", st.colInt(0)}, {"time", st.colReal(1)}, {"header", st.col(2)},
                       {"size", st.colInt(3)}, {"answer", st.col(4)}});
    }
    return out;
}

Json Store::rejects() {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT id, time, path, reason, detail FROM rejects ORDER BY id");
    while (st.step()) {
        out.push_back({{"id", st.colInt(0)}, {"time", st.colReal(1)}, {"path", st.col(2)}, {"reason", st.col(3)},
                       {"detail", st.col(4)}});
    }
    return out;
}

void Store::regroup(const FrameResolver* resolver) {
    // In batches: each batch is read, summarised without the lock, and written back under it,
    // so clients keep being served between batches. One regrouping at a time, so that an
    // older one never writes over a newer one's results.
    std::lock_guard serial(regroupMutex_);
    constexpr int kBatch = 200;
    struct Row {
        std::int64_t id;
        double time;
        std::string ak, itemAc, body, name, reason, backtrace;
    };
    for (std::int64_t after = 0;;) {
        std::vector<Row> rows;
        {
            std::lock_guard lock(mutex_);
            Stmt read(db_, "SELECT id, time, ak, item_ac, body, name, reason, backtrace FROM records WHERE id > ?"
                           " ORDER BY id LIMIT ?");
            read.integer(1, after).integer(2, kBatch);
            while (read.step())
                rows.push_back({read.colInt(0), read.colReal(1), read.col(2), read.col(3), read.col(4), read.col(5),
                                read.col(6), read.col(7)});
        }
        if (rows.empty()) return;
        after = rows.back().id;
        std::vector<RecordSummary> sums;
        for (const Row& r : rows) sums.push_back(summaryOf(r.ak, r.itemAc, r.body, r.name, r.reason, r.backtrace,
                                                           r.time, resolver));
        std::lock_guard lock(mutex_);
        exec("BEGIN");
        try {
            for (std::size_t i = 0; i < rows.size(); ++i) writeSummary(rows[i].id, sums[i]);
            exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }
}

RecordSummary Store::summaryOf(const std::string& ak, const std::string& itemAc, const std::string& body,
                               const std::string& name, const std::string& reason, const std::string& backtrace,
                               double time, const FrameResolver* resolver) {
    auto json = parseJson(body);
    return summarize(ak, itemAc, json ? *json : Json(), name, reason, backtrace, time, resolver);
}

void Store::writeSummary(std::int64_t id, const RecordSummary& sum) {
    Stmt up(db_, "UPDATE records SET gid=?, masked=?, topframe=?, device=?, av=?, ov=?, ctime=?, msg=?, ct=?"
                 " WHERE id=?");
    up.text(1, sum.groupId).text(2, sum.masked).text(3, sum.topFrame).text(4, sum.device).text(5, sum.appVersion)
        .text(6, sum.osVersion).real(7, sum.crashTime).text(8, sum.message).integer(9, sum.count).integer(10, id);
    up.step();
}

void Store::regroupLocked(const FrameResolver* resolver) {
    exec("BEGIN");
    try {
        Stmt read(db_, "SELECT id, time, ak, item_ac, body, name, reason, backtrace FROM records");
        while (read.step())
            writeSummary(read.colInt(0), summaryOf(read.col(2), read.col(3), read.col(4), read.col(5), read.col(6),
                                                   read.col(7), read.colReal(1), resolver));
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

namespace {

// "" matches everything; otherwise a case-insensitive substring test of the given columns.
const char* kTextFilter =
    " AND (?2 = '' OR instr(lower(name), lower(?2)) > 0 OR instr(lower(reason), lower(?2)) > 0"
    " OR instr(lower(backtrace), lower(?2)) > 0 OR instr(lower(topframe), lower(?2)) > 0)";

}  // namespace

Json Store::crashGroups(const std::string& ak, const std::string& text) {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    // Counts from the covering index; the texts of each group from its newest record.
    const std::string sql =
        std::string("SELECT gid, COUNT(*), MIN(ctime), MAX(ctime), COUNT(DISTINCT device), GROUP_CONCAT(DISTINCT av),"
                    " GROUP_CONCAT(DISTINCT ov), MAX(id) FROM records WHERE item_ac = 'submit' AND (?1 = '' OR ak = ?1)") +
        (text.empty() ? "" : kTextFilter) + " GROUP BY gid ORDER BY MAX(ctime) DESC, MAX(id) DESC";
    Stmt st(db_, sql.c_str());
    st.text(1, ak);
    if (!text.empty()) st.text(2, text);
    // GROUP_CONCAT(DISTINCT x) joins with commas, which versions do not contain.
    auto list = [](const std::string& joined) {
        Json l = Json::array();
        std::size_t pos = 0;
        while (!joined.empty() && pos <= joined.size()) {
            std::size_t c = joined.find(',', pos);
            if (c == std::string::npos) c = joined.size();
            l.push_back(joined.substr(pos, c - pos));
            pos = c + 1;
        }
        return l;
    };
    Stmt head(db_, "SELECT ak, name, masked, topframe FROM records WHERE id = ?");
    while (st.step()) {
        head.reset();
        head.integer(1, st.colInt(7));
        head.step();
        out.push_back({{"group", st.col(0)}, {"ak", head.col(0)}, {"name", head.col(1)}, {"reason", head.col(2)},
                       {"frame", head.col(3)}, {"count", st.colInt(1)}, {"first", st.colReal(2)},
                       {"last", st.colReal(3)}, {"devices", st.colInt(4)}, {"appVersions", list(st.col(5))},
                       {"osVersions", list(st.col(6))}, {"latest", st.colInt(7)}});
    }
    return out;
}

Json Store::crashesPerDay(double from, const std::string& ak) {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT CAST(ctime / 86400 AS INTEGER) AS day, COUNT(*) FROM records"
                 " WHERE item_ac = 'submit' AND ctime >= ?1 AND (?2 = '' OR ak = ?2) GROUP BY day ORDER BY day");
    st.real(1, from).text(2, ak);
    while (st.step()) out.push_back({{"day", st.colInt(0)}, {"count", st.colInt(1)}});
    return out;
}

Json Store::groupCrashes(const std::string& groupId, int limit) {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT id, ak, ctime, device, av, ov, name, reason FROM records WHERE item_ac = 'submit'"
                 " AND gid = ? ORDER BY ctime DESC, id DESC LIMIT ?");
    st.text(1, groupId).integer(2, limit);
    while (st.step())
        out.push_back({{"id", st.colInt(0)}, {"ak", st.col(1)}, {"time", st.colReal(2)}, {"device", st.col(3)},
                       {"appVersion", st.col(4)}, {"osVersion", st.col(5)}, {"name", st.col(6)},
                       {"reason", st.col(7)}});
    return out;
}

std::optional<Json> Store::record(std::int64_t id) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT id, time, path, ak, tm, ac, item_ac, body, name, reason, backtrace, answer, gid, masked,"
                 " topframe, ctime, msg, ct FROM records WHERE id = ?");
    st.integer(1, id);
    if (!st.step()) return std::nullopt;
    return Json{{"id", st.colInt(0)},      {"time", st.colReal(1)},    {"path", st.col(2)},
                {"ak", st.col(3)},         {"tm", st.col(4)},          {"ac", st.col(5)},
                {"item_ac", st.col(6)},    {"body", parsedOrText(st.col(7))}, {"name", st.col(8)},
                {"reason", st.col(9)},     {"backtrace", st.col(10)},  {"answer", st.col(11)},
                {"group", st.col(12)},     {"masked", st.col(13)},     {"frame", st.col(14)},
                {"crashTime", st.colReal(15)}, {"msg", st.col(16)},    {"count", st.colInt(17)}};
}

Json Store::exceptionGroups(const std::string& ak, const std::string& text) {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    // The reports of a group share their texts (the group is their identifier), so any row serves.
    const std::string sql = std::string("SELECT gid, ak, name, reason, msg, SUM(ct), COUNT(*), MAX(ctime), MAX(id),"
                                        " COUNT(DISTINCT device), substr(backtrace, 1, 600) FROM records"
                                        " WHERE item_ac = 'exception' AND (?1 = '' OR ak = ?1)") +
                            kTextFilter + " GROUP BY gid ORDER BY MAX(ctime) DESC, MAX(id) DESC";
    Stmt st(db_, sql.c_str());
    st.text(1, ak).text(2, text);
    while (st.step())
        out.push_back({{"group", st.col(0)}, {"ak", st.col(1)}, {"name", st.col(2)}, {"reason", st.col(3)},
                       {"message", st.col(4)}, {"occurrences", st.colInt(5)}, {"reports", st.colInt(6)},
                       {"last", st.colReal(7)}, {"latest", st.colInt(8)}, {"devices", st.colInt(9)},
                       {"trace", st.col(10)}});
    return out;
}

Json Store::registrations(const std::string& ak) {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT ak, av, ov, COUNT(DISTINCT device), COUNT(*), MAX(ctime) FROM records"
                 " WHERE item_ac = 'register' AND (?1 = '' OR ak = ?1) GROUP BY ak, av, ov"
                 " ORDER BY ak, av DESC, ov DESC");
    st.text(1, ak);
    while (st.step())
        out.push_back({{"ak", st.col(0)}, {"appVersion", st.col(1)}, {"osVersion", st.col(2)},
                       {"installations", st.colInt(3)}, {"registrations", st.colInt(4)}, {"last", st.colReal(5)}});
    return out;
}

Json Store::appKeys() {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT DISTINCT ak FROM records WHERE ak != '' UNION SELECT DISTINCT appkey FROM feedback"
                 " WHERE appkey != '' ORDER BY 1");
    while (st.step()) out.push_back(st.col(0));
    return out;
}

Json Store::feedbackPage(int limit, int offset) {
    std::lock_guard lock(mutex_);
    Json out = Json::array();
    Stmt st(db_, "SELECT id, time, appkey, type, message, body FROM feedback ORDER BY id DESC LIMIT ? OFFSET ?");
    st.integer(1, limit).integer(2, offset);
    while (st.step())
        out.push_back({{"id", st.colInt(0)}, {"time", st.colReal(1)}, {"appkey", st.col(2)}, {"type", st.col(3)},
                       {"message", st.col(4)}, {"body", parsedOrText(st.col(5))}});
    return out;
}

std::optional<Json> Store::feedbackItem(std::int64_t id) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT id, time, appkey, type, message, body FROM feedback WHERE id = ?");
    st.integer(1, id);
    if (!st.step()) return std::nullopt;
    return Json{{"id", st.colInt(0)},   {"time", st.colReal(1)},   {"appkey", st.col(2)},
                {"type", st.col(3)}, {"message", st.col(4)}, {"body", parsedOrText(st.col(5))}};
}

std::int64_t Store::feedbackCount() {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "SELECT COUNT(*) FROM feedback");
    return st.step() ? st.colInt(0) : 0;
}

void Store::reset() {
    std::lock_guard lock(mutex_);
    exec("DELETE FROM records; DELETE FROM feedback; DELETE FROM files; DELETE FROM rejects;");
}

}  // namespace collector
