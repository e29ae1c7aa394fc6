// Debian offers no PostgreSQL client library for MinGW: a Windows build keeps
// its history in SQLite and says so when a server is named.
#include "operator/history/connection.h"

namespace vpop::history {

std::unique_ptr<Connection> openPostgres(const std::string&, std::string* error)
{
    *error = "this vpoperator was built without PostgreSQL (the Windows build keeps its history in SQLite): "
             "add the records from a Linux machine, or name a SQLite file with --db PATH";
    return nullptr;
}

} // namespace vpop::history
