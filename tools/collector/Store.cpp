#include "Store.h"

#include <sqlite3.h>

#include <chrono>
#include <stdexcept>

namespace collector {

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void extractException(Record& r) {
    if (!r.body.is_object()) return;
    auto data = r.body.find("data");
    if (data == r.body.end() || !data->is_object()) return;
    if (auto n = data->find("name"); n != data->end() && n->is_string()) r.name = n->get<std::string>();
    if (auto et = data->find("et"); et != data->end() && et->is_string()) {
        const std::string text = et->get<std::string>();
        const auto nl = text.find('\n');
        r.reason = text.substr(0, nl);
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
    double colReal(int i) const { return sqlite3_column_double(st_, i); }

private:
    sqlite3_stmt* st_ = nullptr;
};

Json parsedOrText(const std::string& text) {
    auto v = Json::parse(text, nullptr, false);
    return v.is_discarded() ? Json(text) : v;
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
    std::lock_guard lock(mutex_);
    std::vector<std::int64_t> ids;
    exec("BEGIN");
    try {
        const double t = nowSeconds();
        for (const auto& r : records) {
            Stmt st(db_,
                    "INSERT INTO records(time, path, ak, tm, ac, item_ac, body, name, reason, backtrace, answer)"
                    " VALUES(?,?,?,?,?,?,?,?,?,?,?)");
            st.real(1, t).text(2, r.path).text(3, r.ak).text(4, r.tm).text(5, r.ac).text(6, r.itemAc)
                .text(7, r.body.dump()).text(8, r.name).text(9, r.reason).text(10, r.backtrace).text(11, r.answer);
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
    st.real(1, nowSeconds()).text(2, header).blob(3, data).text(4, answer);
    st.step();
    return sqlite3_last_insert_rowid(db_);
}

void Store::addReject(const std::string& path, const std::string& reason, const std::string& detail) {
    std::lock_guard lock(mutex_);
    Stmt st(db_, "INSERT INTO rejects(time, path, reason, detail) VALUES(?,?,?,?)");
    st.real(1, nowSeconds()).text(2, path).text(3, reason).text(4, detail);
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

void Store::reset() {
    std::lock_guard lock(mutex_);
    exec("DELETE FROM records; DELETE FROM feedback; DELETE FROM files; DELETE FROM rejects;");
}

}  // namespace collector
