#include "Database.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

namespace collector {

namespace {

// Text is stored as valid UTF-8 without NUL bytes (PostgreSQL refuses anything else, and the
// JSON answers that carry it back cannot hold it); what the collector stores comes from the
// network, so invalid sequences and NULs become U+FFFD.
std::string validUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = len != 0 && c != 0 && i + len <= n && c != 0xC0 && c != 0xC1 && c < 0xF5;
        for (std::size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
        if (ok && len == 3) {
            const unsigned cp = ((c & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6);
            ok = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (ok && len == 4) {
            const unsigned cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12);
            ok = cp >= 0x10000 && cp <= 0x10FFFF;
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// ---------------------------------------------------------------- SQLite

class SqliteQuery : public Query {
public:
    SqliteQuery(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st_, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
    }
    ~SqliteQuery() override { sqlite3_finalize(st_); }
    void bindText(int i, const std::string& s) override {
        const std::string text = validUtf8(s);
        sqlite3_bind_text(st_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bindBlob(int i, const std::string& s) override {
        sqlite3_bind_blob(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void bindReal(int i, double v) override { sqlite3_bind_double(st_, i, v); }
    void bindInt(int i, std::int64_t v) override { sqlite3_bind_int64(st_, i, v); }
    bool step() override {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(st_)));
    }
    std::string text(int i) const override {
        auto p = sqlite3_column_blob(st_, i);
        return p ? std::string(static_cast<const char*>(p), sqlite3_column_bytes(st_, i)) : std::string();
    }
    std::int64_t integer(int i) const override { return sqlite3_column_int64(st_, i); }
    double real(int i) const override { return sqlite3_column_double(st_, i); }
    void reset() override {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }

private:
    sqlite3_stmt* st_ = nullptr;
};

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : "cannot open database";
            sqlite3_close(db_);
            throw std::runtime_error(path + ": " + msg);
        }
        sqlite3_busy_timeout(db_, 5000);
        if (path != ":memory:") {
            // WAL lets "dump" and other processes read while the server writes; FULL syncs the
            // log at every commit, so that what was answered survives a power cut.
            try {
                exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL");
            } catch (...) {
                sqlite3_close_v2(db_);
                throw;
            }
        }
    }
    ~SqliteDatabase() override { sqlite3_close_v2(db_); }
    Engine engine() const override { return Engine::Sqlite; }
    void exec(const std::string& sql) override {
        char* err = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errmsg(db_);
            sqlite3_free(err);
            throw std::runtime_error(msg);
        }
    }
    std::unique_ptr<Query> prepare(const std::string& sql) override {
        return std::make_unique<SqliteQuery>(db_, sql);
    }
    bool hasColumn(const std::string& table, const std::string& column) override {
        SqliteQuery q(db_, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
        q.bindText(1, table);
        q.bindText(2, column);
        return q.step();
    }
    void beginSchemaChange() override { exec("BEGIN IMMEDIATE"); }
    void rollback() noexcept override { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

private:
    sqlite3* db_ = nullptr;
};

// ---------------------------------------------------------------- PostgreSQL

constexpr Oid kBytea = 17, kInt8 = 20, kText = 25, kFloat8 = 701;

// "?" and "?N" outside quotes become "$N".
std::string numberPlaceholders(const std::string& sql) {
    std::string out;
    int next = 0;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            if (c == quote) quote = 0;
            out += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            out += c;
        } else if (c == '?') {
            std::size_t j = i + 1;
            while (j < sql.size() && sql[j] >= '0' && sql[j] <= '9') ++j;
            out += '$';
            out += j > i + 1 ? sql.substr(i + 1, j - i - 1) : std::to_string(++next);
            i = j - 1;
        } else {
            out += c;
        }
    }
    return out;
}

class PgDatabase;

class PgQuery : public Query {
public:
    PgQuery(PgDatabase& db, std::string sql) : db_(db), sql_(numberPlaceholders(sql)) {}
    ~PgQuery() override { PQclear(res_); }
    void bindText(int i, const std::string& s) override { set(i, validUtf8(s), kText, 0); }
    void bindBlob(int i, const std::string& s) override { set(i, s, kBytea, 1); }
    void bindReal(int i, double v) override {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        set(i, buf, kFloat8, 0);
    }
    void bindInt(int i, std::int64_t v) override { set(i, std::to_string(v), kInt8, 0); }
    bool step() override;
    std::string text(int col) const override {
        if (!res_ || PQgetisnull(res_, row_, col)) return {};
        const char* v = PQgetvalue(res_, row_, col);
        if (PQftype(res_, col) != kBytea) return std::string(v, static_cast<std::size_t>(PQgetlength(res_, row_, col)));
        std::size_t len = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &len);
        if (!bytes) throw std::runtime_error("PostgreSQL: cannot decode a bytea value");
        std::string out(reinterpret_cast<const char*>(bytes), len);
        PQfreemem(bytes);
        return out;
    }
    std::int64_t integer(int col) const override {
        return res_ && !PQgetisnull(res_, row_, col) ? std::strtoll(PQgetvalue(res_, row_, col), nullptr, 10) : 0;
    }
    double real(int col) const override {
        return res_ && !PQgetisnull(res_, row_, col) ? std::strtod(PQgetvalue(res_, row_, col), nullptr) : 0;
    }
    void reset() override {
        PQclear(res_);
        res_ = nullptr;
        values_.clear();
        types_.clear();
        formats_.clear();
    }

private:
    void set(int i, std::string v, Oid type, int format) {
        const auto at = static_cast<std::size_t>(i - 1);
        if (values_.size() <= at) {
            values_.resize(at + 1);
            types_.resize(at + 1, 0);
            formats_.resize(at + 1, 0);
        }
        values_[at] = std::move(v);
        types_[at] = type;
        formats_[at] = format;
    }
    PgDatabase& db_;
    std::string sql_;
    std::vector<std::optional<std::string>> values_;
    std::vector<Oid> types_;
    std::vector<int> formats_;
    PGresult* res_ = nullptr;
    int row_ = -1;
};

class PgDatabase : public Database {
public:
    explicit PgDatabase(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
        if (PQstatus(conn_) != CONNECTION_OK) {
            std::string msg = PQerrorMessage(conn_);
            PQfinish(conn_);
            while (!msg.empty() && msg.back() == '\n') msg.pop_back();
            throw std::runtime_error("PostgreSQL: " + msg);
        }
        setUp();
    }
    ~PgDatabase() override { PQfinish(conn_); }
    Engine engine() const override { return Engine::Postgres; }
    void exec(const std::string& sql) override { check(PQexec(connection(), sql.c_str()), sql).reset(); }
    std::unique_ptr<Query> prepare(const std::string& sql) override { return std::make_unique<PgQuery>(*this, sql); }
    bool hasColumn(const std::string& table, const std::string& column) override {
        PgQuery q(*this, "SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema()"
                         " AND table_name = ? AND column_name = ?");
        q.bindText(1, table);
        q.bindText(2, column);
        return q.step();
    }
    void beginSchemaChange() override { exec("BEGIN; SELECT pg_advisory_xact_lock(7240019)"); }
    void rollback() noexcept override {
        if (PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, "ROLLBACK"));
    }

    // The connection, re-established when the server dropped it (a restart, a fail-over).
    PGconn* connection() {
        if (PQstatus(conn_) != CONNECTION_OK) {
            PQreset(conn_);
            if (PQstatus(conn_) != CONNECTION_OK) throw std::runtime_error(std::string("PostgreSQL: ") + PQerrorMessage(conn_));
            setUp();
        }
        return conn_;
    }

    struct Result {
        PGresult* r;
        void reset() { PQclear(r); }
    };
    // Throws with the server's message unless the result is a success.
    Result check(PGresult* r, const std::string& sql) {
        const auto status = PQresultStatus(r);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return {r};
        std::string msg = r ? PQresultErrorMessage(r) : PQerrorMessage(conn_);
        PQclear(r);
        while (!msg.empty() && msg.back() == '\n') msg.pop_back();
        throw std::runtime_error("PostgreSQL: " + msg + " (in: " + sql.substr(0, 120) + ")");
    }

private:
    void setUp() {
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
        PQclear(PQexec(conn_, "SET client_encoding = 'UTF8'"));
    }
    PGconn* conn_;
};

bool PgQuery::step() {
    if (!res_) {
        std::vector<const char*> values;
        std::vector<int> lengths;
        for (const auto& v : values_) {
            values.push_back(v ? v->c_str() : nullptr);
            lengths.push_back(v ? static_cast<int>(v->size()) : 0);
        }
        res_ = db_.check(PQexecParams(db_.connection(), sql_.c_str(), static_cast<int>(values.size()), types_.data(),
                                      values.data(), lengths.data(), formats_.data(), 0),
                         sql_)
                   .r;
        row_ = -1;
    }
    return ++row_ < PQntuples(res_);
}

}  // namespace

bool Database::isPostgresTarget(const std::string& target) {
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0 ||
           target.find("host=") != std::string::npos || target.find("dbname=") != std::string::npos;
}

std::unique_ptr<Database> Database::open(const std::string& target) {
    if (isPostgresTarget(target)) return std::make_unique<PgDatabase>(target);
    return std::make_unique<SqliteDatabase>(target);
}

}  // namespace collector
