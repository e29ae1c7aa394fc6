#include "operator/history/schema.h"

#include <stdlib.h>

namespace vpop::history {

namespace {

// Each run once, by its record's identity; each test of it with the verdict
// the record's own verdict functions gave, so no query judges a test again.
// Times are ISO 8601 UTC text, which sorts as time does. A build is its
// label where the run had one, else its library's SHA-256 (build_key).
const char* const TABLES[] = {
    "CREATE TABLE IF NOT EXISTS store_info (schema INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS runs ("
    " id INTEGER PRIMARY KEY, run_id TEXT NOT NULL UNIQUE, bench TEXT NOT NULL, build TEXT NOT NULL,"
    " sha256 TEXT NOT NULL, build_key TEXT NOT NULL, started TEXT NOT NULL, finished TEXT NOT NULL,"
    " verdict TEXT NOT NULL, why TEXT NOT NULL, tests_run INTEGER NOT NULL, partial INTEGER NOT NULL,"
    " matrix INTEGER NOT NULL, host TEXT NOT NULL, by_name TEXT NOT NULL, note TEXT NOT NULL, mode TEXT NOT NULL,"
    " devbench TEXT NOT NULL, library_path TEXT NOT NULL, file_version TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS tests ("
    " run INTEGER NOT NULL REFERENCES runs (id), number INTEGER NOT NULL, verdict TEXT NOT NULL,"
    " first_line TEXT NOT NULL, PRIMARY KEY (run, number))",
    // A bench's runs in time order; a build's runs by label or hash; a
    // test's verdicts across runs.
    "CREATE INDEX IF NOT EXISTS runs_by_bench ON runs (bench, started)",
    "CREATE INDEX IF NOT EXISTS runs_by_build ON runs (build)",
    "CREATE INDEX IF NOT EXISTS runs_by_build_key ON runs (bench, build_key)",
    "CREATE INDEX IF NOT EXISTS runs_by_sha256 ON runs (sha256)",
    "CREATE INDEX IF NOT EXISTS tests_by_number ON tests (number, verdict, run)",
};

// The layout of a store that has one; 0 for a new store.
bool layout(Connection& store, int* schema, std::string* error)
{
    std::vector<Row> rows;
    if (!store.query("SELECT schema FROM store_info", {}, &rows, error)) return false;
    *schema = rows.empty() || !rows[0][0] ? 0 : atoi(rows[0][0]->c_str());
    return true;
}

bool checked(int schema, const std::string& store, std::string* error)
{
    if (schema == storeSchema) return true;
    *error = store + ": a history store of layout " + std::to_string(schema) + "; this vpoperator knows layout "
        + std::to_string(storeSchema) + ": use a newer vpoperator";
    return false;
}

} // namespace

bool prepareStore(Connection& store, std::string* error)
{
    int schema = 0;
    std::string ignored;
    // Most opens find the store made: no writer's lock for them.
    if (layout(store, &schema, &ignored) && schema != 0) return checked(schema, store.name(), error);
    if (!store.beginWriting(error)) return false;
    for (const char* table : TABLES) {
        if (!store.execute(table, {}, error)) return store.rollback(), false;
    }
    bool made = layout(store, &schema, error)
        && (schema != 0 || store.execute("INSERT INTO store_info (schema) VALUES (?)", { storeSchema }, error));
    if (!made) return store.rollback(), false;
    if (!store.commit(error)) return store.rollback(), false;
    return checked(schema == 0 ? storeSchema : schema, store.name(), error);
}

} // namespace vpop::history
