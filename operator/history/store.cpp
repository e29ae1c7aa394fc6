#include "operator/history/connection.h"

#include "operator/platform/host.h"

namespace vpop::history {

std::string defaultStorePath()
{
    std::string data = userDataDirectory();
    return data.empty() ? "" : joinPath(joinPath(data, "devbench"), "history.sqlite");
}

std::unique_ptr<Connection> openStore(const std::string& db, std::string* error)
{
    if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0) return openPostgres(db, error);
    std::string path = db;
    if (path.empty()) {
        path = defaultStorePath();
        if (path.empty()) return *error = "no folder for the history (no HOME): name a store with --db PATH", nullptr;
        if (!makeDirectories(directoryOf(path), error)) return nullptr;
    }
    return openSqlite(path, error);
}

} // namespace vpop::history
