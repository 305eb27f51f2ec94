// The SQL connection beneath the collector's store: SQLite (a file, the default) or
// PostgreSQL (a libpq connection string), behind one small interface so that the store keeps
// one set of queries. Queries are written in SQLite's dialect with "?" and "?N" placeholders;
// the PostgreSQL side numbers them as "$N" and its migrations define the few functions SQLite
// has and PostgreSQL lacks (instr, group_concat).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace collector {

// One statement with bound parameters (numbered from 1) and its result rows.
class Query {
public:
    virtual ~Query() = default;
    virtual void bindText(int i, const std::string& s) = 0;
    virtual void bindBlob(int i, const std::string& s) = 0;
    virtual void bindReal(int i, double v) = 0;
    virtual void bindInt(int i, std::int64_t v) = 0;
    // Runs the statement on the first call; true while a row is there to read.
    virtual bool step() = 0;
    virtual std::string text(int col) const = 0;  // text or blob bytes, "" for NULL
    virtual std::int64_t integer(int col) const = 0;
    virtual double real(int col) const = 0;
    // Clears the result and the bindings, so that the statement can run again.
    virtual void reset() = 0;
};

class Database {
public:
    enum class Engine { Sqlite, Postgres };

    // A libpq connection string (postgresql://..., postgres://..., or "key=value" pairs with
    // host= or dbname=) opens PostgreSQL; anything else is an SQLite path (":memory:" keeps
    // the database in memory). Throws std::runtime_error when it cannot connect.
    static std::unique_ptr<Database> open(const std::string& target);
    static bool isPostgresTarget(const std::string& target);

    virtual ~Database() = default;
    virtual Engine engine() const = 0;
    // One or more statements without parameters or results. Throws on failure.
    virtual void exec(const std::string& sql) = 0;
    virtual std::unique_ptr<Query> prepare(const std::string& sql) = 0;
    // Whether the table has the column.
    virtual bool hasColumn(const std::string& table, const std::string& column) = 0;
    // Begins a transaction that other processes migrating the same database wait for.
    virtual void beginSchemaChange() = 0;
    // Ends a failed transaction; never throws.
    virtual void rollback() noexcept = 0;
};

}  // namespace collector
