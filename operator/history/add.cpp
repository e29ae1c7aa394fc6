#include "operator/history/add.h"

#include <stdlib.h>

#include <map>

#include "operator/record/verdict.h"

namespace vpop::history {

namespace {

// A text column holds no NUL in PostgreSQL, and SQLite's text ends at one:
// a NUL a library printed into a failure line shows as U+FFFD.
std::string stored(std::string text)
{
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
        text.replace(at, 1, "\xEF\xBF\xBD");
    return text;
}

struct TestRow {
    Verdict verdict = Verdict::NotRun;
    std::string firstLine;
};

// How much a verdict says against the library: a matrix runs a test once
// per fault, and the store keeps for it the worst the run judged.
int weight(Verdict verdict) { return verdict == Verdict::NotRun ? 0 : verdict == Verdict::Pass ? 1 : 2; }

std::map<unsigned, TestRow> testRows(const RunRecord& record)
{
    std::map<unsigned, TestRow> rows;
    for (const RecordedTest& test : record.tests) {
        // The history answers questions of the sign-off's tests, numbered as
        // devbench numbers them; devbench-extended's stay in the record.
        if (test.result.suite != Suite::Devbench) continue;
        Verdict verdict = judgedVerdict(test);
        bool fresh = rows.count(test.result.number) == 0;
        TestRow& row = rows[test.result.number];
        if (!fresh && weight(verdict) <= weight(row.verdict)) continue;
        row.verdict = verdict;
        const TestRecord& result = test.result;
        row.firstLine = !result.failures.empty() ? result.failures.front()
            : !result.findings.empty()           ? result.findings.front()
                                                 : test.why;
    }
    return rows;
}

bool insertRun(Connection& store, const RunRecord& record, int64_t id, std::string* error)
{
    const LibraryFile* library = record.library ? &*record.library : nullptr;
    std::string sha256 = library != nullptr && library->read ? library->sha256 : "";
    RunVerdict verdict = runVerdict(record);
    Coverage covered = coverage(record);
    return store.execute("INSERT INTO runs (id, run_id, bench, build, sha256, build_key, started, finished, verdict,"
                         " why, tests_run, partial, matrix, host, by_name, note, mode, devbench, library_path,"
                         " file_version) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        { id, stored(record.runId), stored(record.bench), stored(record.build), stored(sha256),
            stored(record.build.empty() ? sha256 : record.build), record.started, record.finished,
            std::string(verdictWord(verdict.verdict)), stored(verdict.why), covered.ran, covered.partial, record.matrix,
            stored(record.host), stored(record.by), stored(record.note), stored(record.mode), stored(record.devbench),
            stored(library != nullptr ? library->path : ""), stored(library != nullptr ? library->fileVersion : "") },
        error);
}

} // namespace

bool addRun(Connection& store, const RunRecord& record, bool* added, std::string* error)
{
    std::vector<Row> rows;
    *added = false;
    if (!store.query("SELECT id FROM runs WHERE run_id = ?", { stored(record.runId) }, &rows, error)) return false;
    if (!rows.empty()) return true;
    // Writers hold the store's write lock: the next number is theirs alone.
    if (!store.query("SELECT COALESCE(MAX(id), 0) + 1 FROM runs", {}, &rows, error)) return false;
    int64_t id = rows.empty() || !rows[0][0] ? 1 : strtoll(rows[0][0]->c_str(), nullptr, 10);
    if (!insertRun(store, record, id, error)) return false;
    // All its tests in one statement: to a server, one round trip, not 21.
    std::string sql = "INSERT INTO tests (run, number, verdict, first_line) VALUES ";
    std::vector<Param> params;
    for (const auto& [number, row] : testRows(record)) {
        sql += params.empty() ? "(?, ?, ?, ?)" : ", (?, ?, ?, ?)";
        params.insert(params.end(), { id, number, std::string(verdictWord(row.verdict)), stored(row.firstLine) });
    }
    if (!params.empty() && !store.execute(sql, params, error)) return false;
    *added = true;
    return true;
}

} // namespace vpop::history
