// The history on a lab's PostgreSQL server, which every bench writes to at
// once. Written on libpq directly.
#include <libpq-fe.h>

#include "operator/history/connection.h"

namespace vpop::history {

namespace {

// The store's own advisory lock: writers of the history wait for each
// other, so reading what is there and adding what is not cannot race.
const char LOCK_WRITERS[] = "SELECT pg_advisory_xact_lock(3417)";

// The schema's `?` as PostgreSQL's $1, $2, ...; no statement of the history
// has a question mark inside a quoted text.
std::string numbered(const std::string& sql)
{
    std::string out;
    int next = 0;
    for (char c : sql) {
        if (c == '?')
            out += "$" + std::to_string(++next);
        else
            out += c;
    }
    return out;
}

class PostgresConnection : public Connection {
public:
    PostgresConnection(PGconn* connection, std::string name)
        : connection_(connection)
        , name_(std::move(name))
    {
    }

    ~PostgresConnection() override { PQfinish(connection_); }

    bool beginWriting(std::string* error) override
    {
        return execute("BEGIN", {}, error) && execute(LOCK_WRITERS, {}, error);
    }
    bool commit(std::string* error) override { return execute("COMMIT", {}, error); }
    void rollback() override { PQclear(PQexec(connection_, "ROLLBACK")); }
    std::string name() const override { return name_; }

private:
    bool run(
        const std::string& sql, const std::vector<Param>& params, std::vector<Row>* rows, std::string* error) override
    {
        // Every parameter as text: the server gives each the type of the
        // column or value it meets.
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size());
        for (size_t i = 0; i < params.size(); ++i) {
            texts[i] = params[i].kind == Param::Kind::Integer ? std::to_string(params[i].integer) : params[i].text;
            values[i] = params[i].kind == Param::Kind::Null ? nullptr : texts[i].c_str();
        }
        PGresult* result = PQexecParams(connection_, numbered(sql).c_str(), static_cast<int>(params.size()), nullptr,
            values.data(), nullptr, nullptr, 0);
        ExecStatusType status = PQresultStatus(result);
        bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ok) *error = name_ + ": " + trimmed(PQresultErrorMessage(result));
        for (int r = 0; ok && rows != nullptr && r < PQntuples(result); ++r) {
            Row row;
            for (int c = 0; c < PQnfields(result); ++c) {
                if (PQgetisnull(result, r, c))
                    row.emplace_back();
                else
                    row.emplace_back(
                        std::string(PQgetvalue(result, r, c), static_cast<size_t>(PQgetlength(result, r, c))));
            }
            rows->push_back(std::move(row));
        }
        PQclear(result);
        return ok;
    }

    static std::string trimmed(std::string text)
    {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }

    PGconn* connection_;
    std::string name_;
};

// The server and database a URI names, without its password.
std::string serverName(PGconn* connection)
{
    const char* host = PQhost(connection);
    return "postgresql://" + std::string(PQuser(connection)) + "@" + (host != nullptr ? host : "") + ":"
        + PQport(connection) + "/" + PQdb(connection);
}

} // namespace

std::unique_ptr<Connection> openPostgres(const std::string& uri, std::string* error)
{
    PGconn* connection = PQconnectdb(uri.c_str());
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
        std::string why = connection != nullptr ? PQerrorMessage(connection) : "out of memory";
        while (!why.empty() && why.back() == '\n') why.pop_back();
        *error = "cannot reach the PostgreSQL store: " + why;
        PQfinish(connection);
        return nullptr;
    }
    // Records are UTF-8 throughout, whatever the server's default.
    PQsetClientEncoding(connection, "UTF8");
    std::string name = serverName(connection);
    auto store = std::make_unique<PostgresConnection>(connection, name);
    // A notice (a table that already exists) is no news to a technician.
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    return store;
}

} // namespace vpop::history
