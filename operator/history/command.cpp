#include "operator/history/command.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

#include "operator/history/add.h"
#include "operator/history/page.h"
#include "operator/history/queries.h"
#include "operator/history/schema.h"
#include "operator/platform/host.h"
#include "operator/platform/output_file.h"
#include "operator/record/json_record.h"
#include "operator/run/session.h"
#include "wire/nearest_name.h"

namespace vpop::history {

namespace {

using Json = nlohmann::ordered_json;

const int EXIT_NEVER = 1;
const int EXIT_USAGE = 2;
// Added and committed so many at a time, so another bench adding meanwhile
// waits for a batch, not for the whole of a year's records.
const size_t BATCH = 500;

const char usage[]
    = "usage: vpoperator history [--bench NAME] [--json] [--db STORE]\n"
      "       vpoperator history add RECORD.json... [--db STORE]\n"
      "       vpoperator history first-failure --test N [--bench NAME] [--json] [--db STORE]\n"
      "       vpoperator history flaky [--bench NAME] [--json] [--db STORE]\n"
      "       vpoperator history passed --test N --build LABEL|SHA256 [--bench NAME] [--json] [--db STORE]\n"
      "       vpoperator history report --html FILE [--bench NAME] [--db STORE]\n"
      "The lab's history of runs. With no question: what the store holds, the last run of each bench.\n"
      "add puts records in (a run already there, by its record's identity, is left as it is);\n"
      "first-failure: for each bench, the run from which test N has failed, with no pass since under\n"
      "another build; flaky: tests that passed and failed under one build at one bench; passed: the\n"
      "runs in which the build passed test N; report: a page per bench, builds by tests.\n"
      "STORE is a SQLite file (default: $XDG_DATA_HOME/devbench/history.sqlite, on Windows under\n"
      "%LOCALAPPDATA%) or a PostgreSQL server, postgresql://USER@HOST/DATABASE, that a lab's benches share.\n"
      "--bench narrows to one bench; --json writes the answer as JSON for scripts.\n"
      "Exit status: 0 answered (passed: the build passed), 1 passed: it never did, 2 usage error, a\n"
      "store that cannot be used or a record that cannot be read.\n";

struct Options {
    std::string question;
    std::vector<std::string> records;
    std::string db;
    std::string bench;
    std::string build;
    std::string html;
    std::optional<unsigned> test;
    bool json = false;
};

const std::vector<std::string> QUESTIONS = { "add", "first-failure", "flaky", "passed", "report" };
const std::vector<std::string> OPTIONS = { "--db", "--bench", "--test", "--build", "--html", "--json", "--help" };

bool testNumber(const std::string& value, Options* options, std::string* why)
{
    char* end = nullptr;
    unsigned long number = strtoul(value.c_str(), &end, 10);
    size_t tests = suiteTests().size();
    if (value.empty() || !isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || number >= tests)
        return *why = "--test wants a test number from 0 to " + std::to_string(tests - 1) + ", not '" + value + "'",
               false;
    options->test = static_cast<unsigned>(number);
    return true;
}

bool option(const std::vector<std::string>& arguments, size_t* i, Options* options, std::string* why)
{
    const std::string& arg = arguments[*i];
    if (arg == "--json") return options->json = true, true;
    if (std::find(OPTIONS.begin(), OPTIONS.end(), arg) == OPTIONS.end())
        return *why = wire::unknownName("option", arg, OPTIONS), false;
    if (*i + 1 >= arguments.size()) return *why = "missing value after " + arg, false;
    const std::string& value = arguments[++*i];
    if (arg == "--test") return testNumber(value, options, why);
    std::string* target = arg == "--db" ? &options->db
        : arg == "--bench"              ? &options->bench
        : arg == "--build"              ? &options->build
                                        : &options->html;
    *target = value;
    if (value.empty()) return *why = arg + " wants a value, not an empty one", false;
    return true;
}

// What each question needs, and nothing it would ignore.
std::string missing(const Options& options)
{
    const std::string& q = options.question;
    bool needsTest = q == "first-failure" || q == "passed";
    if (needsTest && !options.test) return q + " needs --test N";
    if (!needsTest && options.test) return "--test goes with first-failure and passed";
    if ((q == "passed") != !options.build.empty())
        return q == "passed" ? "passed needs --build LABEL|SHA256" : "--build goes with passed";
    if ((q == "report") != !options.html.empty())
        return q == "report" ? "report needs --html FILE" : "--html goes with report";
    if (q == "add" && options.records.empty()) return "add needs the records to add";
    if (q == "add" && (options.json || !options.bench.empty())) return "add takes records and --db only";
    if (q == "report" && options.json) return "report writes a page; --json goes with the questions";
    return "";
}

bool parse(const std::vector<std::string>& arguments, Options* options, std::string* why)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (i == 0 && !arg.empty() && arg[0] != '-') {
            if (std::find(QUESTIONS.begin(), QUESTIONS.end(), arg) == QUESTIONS.end())
                return *why = wire::unknownName("question", arg, QUESTIONS), false;
            options->question = arg;
        } else if (arg.size() > 1 && arg[0] == '-') {
            if (!option(arguments, &i, options, why)) return false;
        } else if (options->question == "add") {
            std::vector<std::string> files = matchingFiles(arg);
            if (files.empty()) return *why = "no record matches " + arg, false;
            options->records.insert(options->records.end(), files.begin(), files.end());
        } else {
            return *why = "unexpected argument '" + arg + "': every value follows its option", false;
        }
    }
    *why = missing(*options);
    return why->empty();
}

} // namespace

namespace {

void say(const std::string& text) { printText(text); }

// "1 run", "2 runs".
std::string counted(size_t count, const std::string& thing)
{
    return std::to_string(count) + " " + thing + (count == 1 ? "" : thing.back() == 'h' ? "es" : "s");
}

void sayJson(const Json& json) { printText(json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"); }

// A build as a person knows it: its label, else the start of its hash.
std::string buildName(const std::string& build, const std::string& sha256)
{
    if (!build.empty()) return build;
    return sha256.empty() ? "(unknown build)" : "sha256 " + sha256.substr(0, 16);
}

std::string testName(unsigned number)
{
    return "test " + std::to_string(number) + " " + std::string(suiteTests()[number].name);
}

Json runJson(const RunRef& run)
{
    return { { "run_id", run.runId }, { "bench", run.bench }, { "build", run.build.empty() ? Json() : Json(run.build) },
        { "sha256", run.sha256.empty() ? Json() : Json(run.sha256) }, { "started", run.started },
        { "verdict", run.verdict } };
}

std::string runLine(const RunRef& run)
{
    return run.started + "  " + buildName(run.build, run.sha256) + "  " + run.verdict + "  run " + run.runId;
}

int showSummary(Connection& store, const Options& options)
{
    Summary summary;
    std::string error;
    if (!summarize(store, options.bench, &summary, &error))
        return fprintf(stderr, "vpoperator history: %s\n", error.c_str()), EXIT_USAGE;
    if (options.json) {
        Json benches = Json::array();
        for (const BenchSummary& bench : summary.benches)
            benches.push_back(
                { { "bench", bench.bench }, { "runs", bench.runs }, { "last_run", runJson(bench.last) } });
        sayJson({ { "store", store.name() }, { "runs", summary.runs }, { "benches", summary.benches.size() },
            { "builds", summary.builds }, { "first_started", summary.first }, { "last_started", summary.last },
            { "bench_runs", benches } });
        return 0;
    }
    std::string out = "history: " + store.name() + "\n";
    if (summary.runs == 0)
        return say(out + "no runs" + (options.bench.empty() ? "" : " at bench " + options.bench) + " yet\n"), 0;
    out += counted(summary.runs, "run") + " of " + counted(summary.benches.size(), "bench") + " and "
        + counted(summary.builds, "build") + ", started from " + summary.first + " to " + summary.last + "\n";
    out += "each bench's last run:\n";
    for (const BenchSummary& bench : summary.benches)
        out += "  " + bench.bench + " (" + counted(bench.runs, "run") + "): " + runLine(bench.last) + "\n";
    say(out);
    return 0;
}

// The bench's latest spell of failing and how it stands.
Json spellJson(const std::string& bench, const std::vector<FailureSpell>& spells, size_t runs)
{
    Json out = { { "bench", bench }, { "runs", runs } };
    const FailureSpell* last = spells.empty() ? nullptr : &spells.back();
    out["failing"] = last != nullptr && !last->passedAgain;
    out["first_failure"] = last == nullptr ? Json() : runJson(last->first.run);
    if (last != nullptr) out["first_failure"]["first_line"] = last->first.firstLine;
    out["passed_again"] = last == nullptr || !last->passedAgain ? Json() : runJson(last->passedAgain->run);
    return out;
}

std::string spellText(const Json& spell)
{
    std::string out = "  " + spell["bench"].get<std::string>() + ": ";
    const Json& first = spell["first_failure"];
    auto build = [](const Json& run) {
        return buildName(run["build"].is_null() ? "" : run["build"].get<std::string>(),
            run["sha256"].is_null() ? "" : run["sha256"].get<std::string>());
    };
    if (first.is_null()) return out + "never failed in " + counted(spell["runs"].get<size_t>(), "run") + "\n";
    std::string since = first["started"].get<std::string>() + ", build " + build(first) + ", run "
        + first["run_id"].get<std::string>()
        + (first["first_line"].get<std::string>().empty() ? "" : "\n      " + first["first_line"].get<std::string>());
    if (spell["failing"].get<bool>()) return out + "failing since " + since + "\n";
    const Json& again = spell["passed_again"];
    return out + "passing again since " + again["started"].get<std::string>() + ", build " + build(again)
        + "; it had failed from " + since + "\n";
}

int showFirstFailure(Connection& store, const Options& options)
{
    std::vector<TestRun> runs;
    std::string error;
    if (!testRuns(store, *options.test, options.bench, &runs, &error))
        return fprintf(stderr, "vpoperator history: %s\n", error.c_str()), EXIT_USAGE;
    Json benches = Json::array();
    for (size_t from = 0; from < runs.size();) {
        size_t to = from;
        while (to < runs.size() && runs[to].run.bench == runs[from].run.bench) ++to;
        std::vector<TestRun> bench(runs.begin() + static_cast<long>(from), runs.begin() + static_cast<long>(to));
        benches.push_back(spellJson(runs[from].run.bench, failureSpells(bench), bench.size()));
        from = to;
    }
    if (options.json) return sayJson({ { "test", *options.test }, { "benches", benches } }), 0;
    std::string out = testName(*options.test) + ":\n";
    if (benches.empty()) out += "  no run of it" + (options.bench.empty() ? "" : " at bench " + options.bench) + "\n";
    for (const Json& bench : benches) out += spellText(bench);
    say(out);
    return 0;
}

int showFlaky(Connection& store, const Options& options)
{
    std::vector<FlakyTest> flaky;
    std::string error;
    if (!flakyTests(store, options.bench, &flaky, &error))
        return fprintf(stderr, "vpoperator history: %s\n", error.c_str()), EXIT_USAGE;
    // One entry per test at a bench, with the builds it changed under.
    Json tests = Json::array();
    for (size_t i = 0; i < flaky.size(); ++i) {
        const FlakyTest& one = flaky[i];
        if (i == 0 || one.bench != flaky[i - 1].bench || one.test != flaky[i - 1].test)
            tests.push_back({ { "bench", one.bench }, { "test", one.test }, { "passes", 0 }, { "failures", 0 },
                { "builds", Json::array() } });
        Json& entry = tests.back();
        entry["passes"] = entry["passes"].get<unsigned>() + one.passes;
        entry["failures"] = entry["failures"].get<unsigned>() + one.failures;
        entry["builds"].push_back({ { "build", one.build.empty() ? Json() : Json(one.build) },
            { "sha256", one.sha256.empty() ? Json() : Json(one.sha256) }, { "passes", one.passes },
            { "failures", one.failures } });
    }
    if (options.json) return sayJson({ { "flaky", tests } }), 0;
    std::string out = tests.empty() ? "no test changed its verdict under one build at one bench\n" : "";
    for (const Json& test : tests) {
        out += test["bench"].get<std::string>() + ", " + testName(test["test"].get<unsigned>()) + ": "
            + counted(test["builds"].size(), "build") + " passed and failed it ("
            + std::to_string(test["passes"].get<unsigned>()) + " passes, "
            + std::to_string(test["failures"].get<unsigned>()) + " failures)\n";
        for (const Json& build : test["builds"])
            out += "  "
                + buildName(build["build"].is_null() ? "" : build["build"].get<std::string>(),
                    build["sha256"].is_null() ? "" : build["sha256"].get<std::string>())
                + ": " + std::to_string(build["passes"].get<unsigned>()) + " passed, "
                + std::to_string(build["failures"].get<unsigned>()) + " failed\n";
    }
    say(out);
    return 0;
}

// A SHA-256 matches in any case; a label as it is.
std::string buildAsStored(std::string build)
{
    bool hex = build.size() == 64
        && std::all_of(build.begin(), build.end(), [](char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; });
    if (hex)
        std::transform(build.begin(), build.end(), build.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return build;
}

int showPassed(Connection& store, const Options& options)
{
    std::vector<RunRef> runs;
    unsigned tried = 0;
    std::string error;
    std::string build = buildAsStored(options.build);
    if (!passedRuns(store, *options.test, build, options.bench, &runs, &tried, &error))
        return fprintf(stderr, "vpoperator history: %s\n", error.c_str()), EXIT_USAGE;
    int status = runs.empty() ? EXIT_NEVER : 0;
    if (options.json) {
        Json list = Json::array();
        for (const RunRef& run : runs) list.push_back(runJson(run));
        sayJson({ { "test", *options.test }, { "build", options.build }, { "passed", !runs.empty() },
            { "runs_of_build", tried }, { "runs", list } });
        return status;
    }
    std::string where = options.bench.empty() ? "" : " at bench " + options.bench;
    std::string out;
    if (tried == 0)
        out = "build " + options.build + " never passed " + testName(*options.test) + ": no run of it" + where
            + " in the store\n";
    else if (runs.empty())
        out = "build " + options.build + " never passed " + testName(*options.test) + " in its " + counted(tried, "run")
            + where + "\n";
    else
        out = "build " + options.build + " passed " + testName(*options.test) + " in " + std::to_string(runs.size())
            + " of its " + counted(tried, "run") + where + ":\n";
    for (const RunRef& run : runs) out += "  " + run.bench + "  " + runLine(run) + "\n";
    say(out);
    return status;
}

int writeReport(Connection& store, const Options& options)
{
    std::string html, error;
    OutputFile file(options.html);
    if (!file.check(&error) || !historyPage(store, options.bench, &html, &error) || !file.write(html, &error))
        return fprintf(stderr, "vpoperator history: %s\n", error.c_str()), EXIT_USAGE;
    say("vpoperator history: page written to " + absolutePath(options.html) + "\n");
    return 0;
}

// Commits what is added so far; the batch is lost with `error` otherwise.
bool addBatch(Connection& store, const std::vector<std::string>& files, size_t from, size_t to, unsigned counts[3],
    std::string* error)
{
    if (!store.beginWriting(error)) return false;
    for (size_t i = from; i < to; ++i) {
        RunRecord record;
        std::string why;
        bool added = false;
        if (!readRecord(files[i], &record, &why)) {
            fprintf(stderr, "vpoperator history: not added: %s\n", why.c_str());
            ++counts[2];
            continue;
        }
        if (!addRun(store, record, &added, error)) return store.rollback(), false;
        ++counts[added ? 0 : 1];
    }
    if (store.commit(error)) return true;
    store.rollback();
    return false;
}

int addRecords(Connection& store, const Options& options)
{
    unsigned counts[3] = {};
    const std::vector<std::string>& files = options.records;
    std::string error;
    for (size_t from = 0; from < files.size(); from += BATCH) {
        if (addBatch(store, files, from, std::min(files.size(), from + BATCH), counts, &error)) continue;
        fprintf(stderr, "vpoperator history: %s; the %zu runs added before were kept, none after\n", error.c_str(),
            static_cast<size_t>(counts[0]));
        return EXIT_USAGE;
    }
    // Fresh statistics after many runs: without them PostgreSQL plans the
    // questions as for an empty store. A run added at a time changes little.
    if (counts[0] >= BATCH && !store.execute("ANALYZE", {}, &error))
        fprintf(stderr, "vpoperator history: %s\n", error.c_str());
    say("vpoperator history: " + std::to_string(counts[0]) + " runs added, " + std::to_string(counts[1])
        + " already there" + (counts[2] > 0 ? ", " + std::to_string(counts[2]) + " records not readable" : "") + " ("
        + store.name() + ")\n");
    return counts[2] > 0 ? EXIT_USAGE : 0;
}

std::unique_ptr<Connection> preparedStore(const std::string& db, std::string* error)
{
    std::unique_ptr<Connection> store = openStore(db, error);
    if (store && !prepareStore(*store, error)) store.reset();
    return store;
}

} // namespace

int historyCommand(const std::vector<std::string>& arguments)
{
    for (const std::string& arg : arguments) {
        if (arg == "--help" || arg == "-h") return printf("%s", usage), 0;
    }
    Options options;
    std::string error;
    if (!parse(arguments, &options, &error)) {
        fprintf(stderr, "vpoperator history: %s\n%s", error.c_str(), usage);
        return EXIT_USAGE;
    }
    std::unique_ptr<Connection> store = preparedStore(options.db, &error);
    if (!store) return fprintf(stderr, "vpoperator history: %s\n", error.c_str()), EXIT_USAGE;
    const std::string& q = options.question;
    return q == "add"          ? addRecords(*store, options)
        : q == "first-failure" ? showFirstFailure(*store, options)
        : q == "flaky"         ? showFlaky(*store, options)
        : q == "passed"        ? showPassed(*store, options)
        : q == "report"        ? writeReport(*store, options)
                               : showSummary(*store, options);
}

bool checkStore(const std::string& db, std::string* error) { return preparedStore(db, error) != nullptr; }

bool addAfterRun(const RunRecord& record, const std::string& db)
{
    std::string error;
    std::unique_ptr<Connection> store = preparedStore(db, &error);
    bool added = false;
    bool done = store && store->beginWriting(&error);
    if (done && !(addRun(*store, record, &added, &error) && store->commit(&error))) {
        store->rollback();
        done = false;
    }
    if (!done) {
        fprintf(stderr, "vpoperator: the run was not added to the history: %s\n", error.c_str());
        return false;
    }
    printText("vpoperator: run " + record.runId + (added ? " added to the history at " : " already in the history at ")
        + store->name() + "\n");
    return true;
}

} // namespace vpop::history
