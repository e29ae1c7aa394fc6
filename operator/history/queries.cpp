#include "operator/history/queries.h"

#include <stdlib.h>

#include <set>
#include <unordered_map>

namespace vpop::history {

namespace {

// Every question narrows to a bench the same way: none named is all.
const char AT_BENCH[] = "(CAST(? AS TEXT) = '' OR r.bench = ?)";
const char RUN_COLUMNS[] = "r.run_id, r.bench, r.build, r.sha256, r.started, r.verdict";
const size_t RUN_WIDTH = 6;

std::string text(const Row& row, size_t column) { return column < row.size() && row[column] ? *row[column] : ""; }
unsigned count(const Row& row, size_t column)
{
    return static_cast<unsigned>(strtoul(text(row, column).c_str(), nullptr, 10));
}

RunRef runOf(const Row& row, size_t from = 0)
{
    return { text(row, from), text(row, from + 1), text(row, from + 2), text(row, from + 3), text(row, from + 4),
        text(row, from + 5) };
}

std::vector<Param> atBench(const std::string& bench, std::vector<Param> before = {})
{
    before.push_back(bench);
    before.push_back(bench);
    return before;
}

} // namespace

bool summarize(Connection& store, const std::string& bench, Summary* summary, std::string* error)
{
    std::vector<Row> rows;
    if (!store.query(std::string("SELECT COUNT(*), COUNT(DISTINCT r.build_key), MIN(r.started), MAX(r.started)"
                                 " FROM runs r WHERE ")
                + AT_BENCH,
            atBench(bench), &rows, error))
        return false;
    *summary = Summary();
    if (!rows.empty()) *summary = { count(rows[0], 0), count(rows[0], 1), text(rows[0], 2), text(rows[0], 3), {} };
    // Each bench's latest run: its runs in time order, through the index.
    if (!store.query(std::string("SELECT ") + RUN_COLUMNS
                + ", (SELECT COUNT(*) FROM runs c WHERE c.bench = r.bench) FROM runs r WHERE " + AT_BENCH
                + " AND r.id = (SELECT l.id FROM runs l WHERE l.bench = r.bench ORDER BY l.started DESC, l.id DESC"
                  " LIMIT 1) ORDER BY r.bench",
            atBench(bench), &rows, error))
        return false;
    for (const Row& row : rows) summary->benches.push_back({ text(row, 1), count(row, RUN_WIDTH), runOf(row) });
    return true;
}

bool testRuns(
    Connection& store, unsigned number, const std::string& bench, std::vector<TestRun>* runs, std::string* error)
{
    std::vector<Row> rows;
    if (!store.query(std::string("SELECT ") + RUN_COLUMNS
                + ", r.build_key, t.verdict, t.first_line FROM tests t JOIN runs r ON r.id = t.run"
                  " WHERE t.number = ? AND t.verdict <> 'not run' AND r.matrix = 0 AND "
                + AT_BENCH + " ORDER BY r.bench, r.started, r.id",
            atBench(bench, { number }), &rows, error))
        return false;
    runs->clear();
    for (const Row& row : rows)
        runs->push_back({ runOf(row), text(row, RUN_WIDTH), text(row, RUN_WIDTH + 1), text(row, RUN_WIDTH + 2) });
    return true;
}

std::vector<FailureSpell> failureSpells(const std::vector<TestRun>& benchRuns)
{
    std::vector<FailureSpell> spells;
    std::set<std::string> failedBuilds;
    bool open = false;
    for (const TestRun& run : benchRuns) {
        // A run that did not run the test says nothing of it.
        if (run.verdict == "not run") continue;
        if (run.verdict != "pass") {
            if (!open) spells.push_back({ run, std::nullopt }), failedBuilds.clear();
            open = true;
            failedBuilds.insert(run.buildKey);
        } else if (open && (run.buildKey.empty() || failedBuilds.count(run.buildKey) == 0)) {
            spells.back().passedAgain = run;
            open = false;
        }
    }
    return spells;
}

// Failures are few: each (bench, build, test) that failed is looked up for
// a pass under the same build at the same bench, through the indexes. The
// CROSS JOIN keeps SQLite, which has no statistics of the store, from
// walking every pass of the test instead of the build's few runs.
bool flakyTests(Connection& store, const std::string& bench, std::vector<FlakyTest>* flaky, std::string* error)
{
    std::vector<Row> rows;
    if (!store.query(
            std::string(
                "SELECT * FROM (SELECT r.bench, t.number, r.build_key, MIN(r.build), MIN(r.sha256),"
                " (SELECT COUNT(*) FROM runs p CROSS JOIN tests u WHERE u.run = p.id"
                " AND u.number = t.number AND p.bench = r.bench AND p.build_key = r.build_key"
                " AND p.matrix = 0 AND u.verdict = 'pass') AS passes, COUNT(*) AS failures, MIN(r.started) AS since"
                " FROM tests t JOIN runs r ON r.id = t.run WHERE t.verdict IN ('fail', 'broke off')"
                " AND r.matrix = 0 AND r.build_key <> '' AND ")
                + AT_BENCH
                + " GROUP BY r.bench, t.number, r.build_key) f WHERE f.passes > 0 ORDER BY f.bench, f.number, f.since",
            atBench(bench), &rows, error))
        return false;
    flaky->clear();
    for (const Row& row : rows)
        flaky->push_back(
            { text(row, 0), count(row, 1), text(row, 2), text(row, 3), text(row, 4), count(row, 5), count(row, 6) });
    return true;
}

bool passedRuns(Connection& store, unsigned number, const std::string& build, const std::string& bench,
    std::vector<RunRef>* runs, unsigned* tried, std::string* error)
{
    std::vector<Row> rows;
    const char BUILD[] = "(r.build = ? OR r.sha256 = ?)";
    if (!store.query(std::string("SELECT COUNT(*) FROM runs r WHERE r.matrix = 0 AND ") + BUILD + " AND " + AT_BENCH,
            atBench(bench, { build, build }), &rows, error))
        return false;
    *tried = rows.empty() ? 0 : count(rows[0], 0);
    if (!store.query(std::string("SELECT ") + RUN_COLUMNS
                + " FROM tests t JOIN runs r ON r.id = t.run WHERE t.number = ? AND t.verdict = 'pass'"
                  " AND r.matrix = 0 AND "
                + BUILD + " AND " + AT_BENCH + " ORDER BY r.started, r.id",
            atBench(bench, { number, build, build }), &rows, error))
        return false;
    runs->clear();
    for (const Row& row : rows) runs->push_back(runOf(row));
    return true;
}

bool benchRuns(Connection& store, const std::string& bench, std::vector<RunTests>* runs, std::string* error)
{
    std::vector<Row> rows;
    if (!store.query(std::string("SELECT ") + RUN_COLUMNS
                + ", r.build_key, r.by_name, r.note, r.why, r.host, r.devbench, r.finished, r.partial, r.id FROM runs r"
                  " WHERE r.matrix = 0 AND "
                + AT_BENCH + " ORDER BY r.bench, r.started, r.id",
            atBench(bench), &rows, error))
        return false;
    runs->clear();
    std::unordered_map<std::string, size_t> index;
    for (const Row& row : rows) {
        index[text(row, 14)] = runs->size();
        runs->push_back({ runOf(row), text(row, 6), text(row, 7), text(row, 8), text(row, 9), text(row, 10),
            text(row, 11), text(row, 12), text(row, 13) == "1", {} });
    }
    // The tests apart: a run's facts once, not once per test.
    // From the bench's runs to their tests, not the other way.
    if (!store.query(std::string("SELECT t.run, t.number, t.verdict, t.first_line FROM runs r CROSS JOIN tests t"
                                 " WHERE t.run = r.id AND r.matrix = 0 AND ")
                + AT_BENCH + " ORDER BY r.id, t.number",
            atBench(bench), &rows, error))
        return false;
    for (const Row& row : rows) {
        auto run = index.find(text(row, 0));
        if (run != index.end()) (*runs)[run->second].tests.push_back({ count(row, 1), text(row, 2), text(row, 3) });
    }
    return true;
}

} // namespace vpop::history
