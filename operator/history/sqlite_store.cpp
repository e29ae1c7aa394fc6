// The history in a SQLite file: a bench's own, or one that the benches of
// one machine share (not on a network share: its write-ahead log needs the
// memory of one machine). Written on libsqlite3 directly.
#include <sqlite3.h>

#include <map>

#include "operator/history/connection.h"

namespace vpop::history {

namespace {

// Long enough for another bench to add a year of runs in one go; past it a
// writer says the store is busy instead of waiting for ever.
const int BUSY_TIMEOUT_MS = 60000;

class SqliteConnection : public Connection {
public:
    SqliteConnection(sqlite3* db, std::string path)
        : db_(db)
        , path_(std::move(path))
    {
    }

    ~SqliteConnection() override
    {
        for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    // IMMEDIATE takes the write lock now, waiting out the busy timeout; a
    // deferred transaction that reads first would be refused at its first
    // write without waiting.
    bool beginWriting(std::string* error) override { return execute("BEGIN IMMEDIATE", {}, error); }
    bool commit(std::string* error) override { return execute("COMMIT", {}, error); }
    void rollback() override
    {
        std::string ignored;
        execute("ROLLBACK", {}, &ignored);
    }
    std::string name() const override { return path_; }

private:
    // Prepared once per text: adding a record runs the same few statements
    // for each of its tests.
    sqlite3_stmt* prepared(const std::string& sql, std::string* error)
    {
        auto found = statements_.find(sql);
        if (found != statements_.end()) return found->second;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            *error = path_ + ": " + sqlite3_errmsg(db_);
            return nullptr;
        }
        return statements_[sql] = statement;
    }

    bool bind(sqlite3_stmt* statement, const std::vector<Param>& params)
    {
        int status = SQLITE_OK;
        for (size_t i = 0; i < params.size() && status == SQLITE_OK; ++i) {
            const Param& param = params[i];
            int at = static_cast<int>(i + 1);
            status = param.kind == Param::Kind::Null ? sqlite3_bind_null(statement, at)
                : param.kind == Param::Kind::Integer ? sqlite3_bind_int64(statement, at, param.integer)
                                                     : sqlite3_bind_text(statement, at, param.text.data(),
                                                         static_cast<int>(param.text.size()), SQLITE_TRANSIENT);
        }
        return status == SQLITE_OK;
    }

    static Row row(sqlite3_stmt* statement)
    {
        Row out;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            const unsigned char* text = sqlite3_column_text(statement, column);
            if (text == nullptr) {
                out.emplace_back();
            } else {
                out.emplace_back(std::string(
                    reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement, column))));
            }
        }
        return out;
    }

    bool run(
        const std::string& sql, const std::vector<Param>& params, std::vector<Row>* rows, std::string* error) override
    {
        sqlite3_stmt* statement = prepared(sql, error);
        if (statement == nullptr) return false;
        int status = bind(statement, params) ? SQLITE_ROW : SQLITE_ERROR;
        while (status == SQLITE_ROW) {
            status = sqlite3_step(statement);
            if (status == SQLITE_ROW && rows != nullptr) rows->push_back(row(statement));
        }
        if (status != SQLITE_DONE) *error = path_ + ": " + sqlite3_errmsg(db_);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return status == SQLITE_DONE;
    }

    sqlite3* db_;
    std::string path_;
    std::map<std::string, sqlite3_stmt*> statements_;
};

} // namespace

std::unique_ptr<Connection> openSqlite(const std::string& path, std::string* error)
{
    sqlite3* db = nullptr;
    int status = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (status != SQLITE_OK) {
        *error = path
            + ": cannot open it as a SQLite store: " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(status));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
    auto connection = std::make_unique<SqliteConnection>(db, path);
    // Readers go on while a bench writes, and a writer waits for the other
    // instead of failing.
    std::vector<Row> mode;
    if (!connection->query("PRAGMA journal_mode=WAL", {}, &mode, error)) {
        *error += ": it is not a history store; name another file with --db PATH";
        return nullptr;
    }
    return connection;
}

} // namespace vpop::history
