// A connection to a history store, whichever engine keeps it. The store's
// schema and queries are written once, in the SQL both engines speak, with
// `?` for each parameter; an engine says only what its dialect does
// differently.
#pragma once

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vpop::history {

// A statement's parameter: text, a whole number or null.
struct Param {
    enum class Kind { Null, Text, Integer };
    Kind kind = Kind::Null;
    std::string text;
    int64_t integer = 0;

    Param() = default;
    Param(std::string value)
        : kind(Kind::Text)
        , text(std::move(value))
    {
    }
    Param(const char* value)
        : Param(std::string(value))
    {
    }
    Param(int64_t value)
        : kind(Kind::Integer)
        , integer(value)
    {
    }
    Param(int value)
        : Param(static_cast<int64_t>(value))
    {
    }
    Param(unsigned value)
        : Param(static_cast<int64_t>(value))
    {
    }
    Param(bool value)
        : Param(static_cast<int64_t>(value ? 1 : 0))
    {
    }
};

// A row as text, one field per column; none for null.
using Row = std::vector<std::optional<std::string>>;

class Connection {
public:
    virtual ~Connection() = default;

    // Runs a statement; false with `error` saying what the store answered.
    bool execute(const std::string& sql, const std::vector<Param>& params, std::string* error)
    {
        return run(sql, params, nullptr, error);
    }
    // Runs a query and keeps every row.
    bool query(const std::string& sql, const std::vector<Param>& params, std::vector<Row>* rows, std::string* error)
    {
        rows->clear();
        return run(sql, params, rows, error);
    }
    // A transaction that writes: it waits for every other writer of the
    // store (SQLite: its one write lock, a busy timeout long; PostgreSQL: a
    // lock of the store's own), so reading before writing sees what others
    // committed, and benches adding at once lose nothing.
    virtual bool beginWriting(std::string* error) = 0;
    virtual bool commit(std::string* error) = 0;
    virtual void rollback() = 0;
    // The store as a person names it: its file, or the server and database.
    virtual std::string name() const = 0;

protected:
    // One statement, its rows kept when `rows` is given.
    virtual bool run(
        const std::string& sql, const std::vector<Param>& params, std::vector<Row>* rows, std::string* error)
        = 0;
};

// The store `db` names: a PostgreSQL server for postgresql:// or
// postgres:// (libpq's own URI forms), else a SQLite file; empty for the
// user's default file. None, with `error`, when it cannot be opened.
std::unique_ptr<Connection> openStore(const std::string& db, std::string* error);

std::unique_ptr<Connection> openSqlite(const std::string& path, std::string* error);
std::unique_ptr<Connection> openPostgres(const std::string& uri, std::string* error);

// What a store path given by a person means: the default file for none.
std::string defaultStorePath();

} // namespace vpop::history
