// vpoperator: runs devbench against the virtual printer and plays the
// technician, answering each prompt by changing the printer's state; or
// (--manual) runs it beside a technician at a real printer. Either way it
// prints a table of verdicts and can keep a record of the run.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "operator/history/command.h"
#include "operator/platform/host.h"
#include "operator/record/record_files.h"
#include "operator/record/records.h"
#include "operator/record/verdict.h"
#include "operator/record/version.h"
#include "operator/report/command.h"
#include "operator/run/faults.h"
#include "operator/run/manual.h"
#include "operator/run/matrix.h"
#include "operator/run/run.h"
#include "operator/run/run_record.h"
#include "operator/run/table.h"
#include "wire/nearest_name.h"

namespace {

using namespace vpop;

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

const char usage[]
    = "usage: vpoperator [--dir BUILD_DIR] [--tests a|all|N,N,...] [--extended] [--pace fast|person]\n"
      "                  [--settings TEXT] [--verbose]\n"
      "                  [--timeout SEC] [--printer-option 'OPT...' ...] [--port ENDPOINT]\n"
      "                  [--devbench PATH] [--record FILE] [--junit FILE] [--bench NAME]\n"
      "                  [--build LABEL] [--by NAME] [--note TEXT] [--history [--db STORE]]\n"
      "       vpoperator --matrix [--jobs N] [--dir BUILD_DIR] [--settings TEXT] [--verbose]\n"
      "                  [--timeout SEC] [--record FILE] [--junit FILE]\n"
      "       vpoperator --manual --port NAME [--settings TEXT] [--tests LIST] [--extended] [--record FILE]\n"
      "                  [--junit FILE] [--dir DIR] [--devbench PATH] [--timeout SEC]\n"
      "       vpoperator report RECORD.json [MORE.json ...] [--html FILE] [--markdown FILE]\n"
      "       vpoperator history [add RECORD... | first-failure | flaky | passed | report] ...\n"
      "Runs devbench from BUILD_DIR (default: this program's directory) against a virtual\n"
      "printer it starts (or the one already serving at ENDPOINT) and answers every prompt.\n"
      "--matrix runs the tests of every fault profile and shows which faults the suite catches,\n"
      "and every test of both programs under each healthy variation of the library, which must\n"
      "pass them all;\n"
      "N runs at a time (default 6), each with its own virtual printer.\n"
      "--timeout SEC is how long devbench may print nothing (default 30, --manual 300); in a test\n"
      "it may also take what the test's own time limits allow (Test Open Port: 200 opens and closes).\n"
      "--manual runs devbench (in DIR) for a technician at a real printer: it answers the port\n"
      "name, settings and menu, shows devbench's output and passes the technician's Enter back\n"
      "at each prompt; it changes nothing on the printer.\n"
      "--extended runs devbench-extended's procedures (found beside devbench) after the tests of\n"
      "--tests, at the same printer: one run, one record, one verdict; its tests are numbered x0, x1...\n"
      "Its yes/no questions are answered from the virtual printer's record (or by the technician).\n"
      "--pace person: the printer prints at its own speed over a slow link and the operator waits\n"
      "2 s at each prompt and question, as a person would (default fast).\n"
      "--printer-option passes words to `vprinter serve`: --printer-option '--fault slow-status:300'.\n"
      "--record FILE writes a JSON record of the run, --junit FILE a JUnit report; --bench NAME\n"
      "names the bench in both (default: the host name), so several benches' reports merge;\n"
      "--build LABEL (the library build as its maker names it), --by NAME (the technician) and\n"
      "--note TEXT label the run in both. --history adds the run to the lab's history as it\n"
      "ends (--db PATH or postgresql://...; `vpoperator history --help`).\n"
      "--port is the port name devbench is given: a real printer's with --manual, else the\n"
      "endpoint of a virtual printer. --endpoint and --build-dir are older names of --port, --dir.\n"
      "report is a command of its own (it reads records and runs nothing); --matrix and --manual\n"
      "are ways to run devbench and take the run's options.\n"
      "Exit status: 0 all tests passed, 1 a test failed or the run broke off, 2 usage or setup\n"
      "error, or a record that could not be written.\n";

struct Options {
    RunOptions run;
    std::string tests = "a";
    std::vector<MenuChoice> plan;
    std::vector<MenuChoice> extendedPlan;
    bool matrix = false;
    bool extended = false;
    unsigned jobs = 6;
    bool jobsGiven = false;
    bool manual = false;
    bool timeoutGiven = false;
    std::string port;
    std::optional<std::string> record;
    std::optional<std::string> junit;
    std::string bench;
    std::string build;
    std::string by;
    std::string note;
    bool history = false;
    std::string db;
};

// Every option, for the one that a mistyped name was meant to be. The older
// names (--build-dir, --endpoint) are kept for scripts that use them.
const std::vector<std::string> flagOptions
    = { "--verbose", "--matrix", "--manual", "--extended", "--history", "--help" };
const std::vector<std::string> valueOptions
    = { "--dir", "--tests", "--settings", "--timeout", "--jobs", "--pace", "--printer-option", "--port", "--devbench",
          "--record", "--junit", "--bench", "--build", "--by", "--note", "--db", "--build-dir", "--endpoint" };

// The names a run is found by: CI shows the bench in every test's class
// name, the lab's pages show them all; a control character would garble both.
std::string* labelOption(const std::string& arg, Options* options)
{
    return arg == "--bench" ? &options->bench
        : arg == "--build"  ? &options->build
        : arg == "--by"     ? &options->by
        : arg == "--note"   ? &options->note
                            : nullptr;
}

bool setLabel(const std::string& arg, const std::string& value, std::string* label, std::string* why)
{
    *label = value;
    bool control = std::any_of(value.begin(), value.end(), [](char c) { return c >= 0 && c < ' '; });
    if (control || (value.empty() && arg != "--note")) {
        *why = arg + " wants " + (arg == "--note" ? "a text" : "a name") + ", without control characters";
        return false;
    }
    return true;
}

// An option with a value; false (with `why`) when it is bad.
bool valueOption(const std::string& arg, const std::string& value, Options* options, std::string* why)
{
    if (std::string* label = labelOption(arg, options)) return setLabel(arg, value, label, why);
    RunOptions& run = options->run;
    // "--port --verbose" lost its value; no printer or port is named so.
    if ((arg == "--endpoint" || arg == "--port") && (value.empty() || value[0] == '-')) {
        *why = arg + " needs a name, not '" + value + "'";
        return false;
    }
    // --build-dir, the scripts' old name, is the same option.
    if (arg == "--dir" || arg == "--build-dir") {
        run.dir = value;
    } else if (arg == "--tests") {
        options->tests = value == "all" ? "a" : value;
    } else if (arg == "--settings") {
        run.settings = value;
    } else if (arg == "--timeout") {
        char* end = nullptr;
        run.timeout = strtod(value.c_str(), &end);
        options->timeoutGiven = true;
        if (end == value.c_str() || *end != '\0' || !(run.timeout > 0) || run.timeout > 86400) {
            *why = "--timeout wants seconds above 0, not '" + value + "'";
            return false;
        }
    } else if (arg == "--jobs") {
        char* end = nullptr;
        unsigned long jobs = strtoul(value.c_str(), &end, 10);
        options->jobsGiven = true;
        if (end == value.c_str() || *end != '\0' || value[0] == '-' || jobs < 1 || jobs > 64) {
            *why = "--jobs wants a number of runs from 1 to 64, not '" + value + "'";
            return false;
        }
        options->jobs = static_cast<unsigned>(jobs);
    } else if (arg == "--pace") {
        if (value != "fast" && value != "person") return *why = "--pace is fast or person, not '" + value + "'", false;
        run.paceMs = value == "person" ? PERSON_PACE_MS : 0;
    } else if (arg == "--printer-option") {
        // "--fault slow-status:300" as one quoted option is two words to the printer.
        std::istringstream words(value);
        for (std::string word; words >> word;) run.printerOptions.push_back(word);
    } else if (arg == "--port" || arg == "--endpoint") {
        options->port = value;
    } else if (arg == "--devbench") {
        run.devbench = value;
    } else if (arg == "--record") {
        options->record = value;
    } else if (arg == "--junit") {
        options->junit = value;
    } else if (arg == "--db") {
        options->db = value;
    } else {
        *why = wire::unknownName("option", arg, valueOptions);
        return false;
    }
    return true;
}

// What the options mean together; empty when they make sense.
std::string conflicts(const Options& options)
{
    const RunOptions& run = options.run;
    if (options.matrix
        && (!options.port.empty() || !run.printerOptions.empty() || !run.devbench.empty() || options.manual))
        return "--matrix starts its own printers and suites";
    if (options.jobsGiven && !options.matrix) return "--jobs goes with --matrix";
    if (options.manual && (!run.printerOptions.empty() || run.verbose))
        return "--manual drives no printer: --printer-option and --verbose do not go with it";
    if (options.manual && options.port.empty()) return "--manual needs --port NAME";
    if (options.history && !options.record) return "--history adds the run's record: name it with --record FILE";
    if (!options.db.empty() && !options.history) return "--db names the history --history adds the run to";
#if defined(_WIN32)
    if (!options.manual) return "the virtual printer runs on Linux; on Windows only --manual runs";
#endif
    return "";
}

// Returns -1 when the options are fine, else the exit status.
int parseOptions(int argc, char** argv, Options* options)
{
    auto bad = [](const std::string& why) {
        fprintf(stderr, "vpoperator: %s\n%s", why.c_str(), usage);
        return EXIT_USAGE;
    };
    RunOptions& run = options->run;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printf("%s", usage);
            return 0;
        }
        bool* flag = arg == "--verbose" ? &run.verbose
            : arg == "--matrix"         ? &options->matrix
            : arg == "--manual"         ? &options->manual
            : arg == "--extended"       ? &options->extended
            : arg == "--history"        ? &options->history
                                        : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        // A word first is a command: report or history.
        if (i == 1 && !arg.empty() && arg[0] != '-')
            return bad(wire::unknownName("command", arg, { "report", "history" }));
        if (arg.empty() || arg[0] != '-')
            return bad("unexpected argument '" + arg + "': every value follows its option");
        if (std::find(valueOptions.begin(), valueOptions.end(), arg) == valueOptions.end()) {
            std::vector<std::string> known = flagOptions;
            known.insert(known.end(), valueOptions.begin(), valueOptions.end());
            return bad(wire::unknownName("option", arg, known));
        }
        if (i + 1 >= argc) return bad("missing value after " + arg);
        std::string why;
        if (!valueOption(arg, argv[++i], options, &why)) return bad(why);
    }
    std::string conflict = conflicts(*options);
    if (!conflict.empty()) return bad(conflict);
    std::string error;
    std::optional<std::vector<MenuChoice>> plan = parseTestList(options->tests, &error);
    if (!plan) return bad("--tests: " + error);
    options->plan = *plan;
    // A virtual run's port is the endpoint of the printer it uses.
    if (!options->manual) run.endpoint = options->port;
    // A technician's printer and library may be slow where the virtual ones never are.
    if (options->manual && !options->timeoutGiven) run.timeout = 300;
    run.dir = absolutePath(run.dir.empty() ? programDirectory(argv[0]) : run.dir);
    run.devbench = run.devbench.empty() ? joinPath(run.dir, devbenchProgram) : absolutePath(run.devbench);
    // devbench-extended stands beside the devbench that runs.
    run.devbenchExtended = joinPath(directoryOf(run.devbench), devbenchExtendedProgram);
    if (options->extended) options->extendedPlan = allTests(Suite::Extended);
    return -1;
}

// The exit status of a setup error; 0 once the run is on record.
int runTests(const Options& options, RunRecord* record)
{
    Table table(options.manual);
    RunOptions run = options.run;
    run.onTestEnded = [&table](const TestRecord& test) { table.row(test); };
    RunOutcome outcome = options.manual ? runManual(run, options.port, options.plan, options.extendedPlan)
                                        : runOperator(run, options.plan, options.extendedPlan);
    addRun(*record, outcome, options.plan, options.extendedPlan);
    if (outcome.setupFailed) {
        fprintf(stderr, "vpoperator: %s\n", outcome.broken.c_str());
        return outcome.interrupted ? EXIT_FAILED : EXIT_USAGE;
    }
    table.finish(*record, options.manual);
    if (!outcome.broken.empty()) fprintf(stderr, "vpoperator: %s; stopped\n", outcome.broken.c_str());
    return 0;
}

// What is known before the run starts.
RunRecord startRecord(const Options& options, bool wanted, FileIdentity* probeIdentity)
{
    RunRecord record;
    record.started = utcTimestamp();
    record.host = hostName();
    record.bench = options.bench.empty() ? record.host : options.bench;
    record.runId = newRunId();
    record.build = options.build;
    record.by = options.by;
    record.note = options.note;
    record.portName = options.manual ? options.port : options.run.endpoint;
    record.portSettings = options.run.settings;
    record.mode = options.manual ? "manual" : "virtual";
    record.matrix = options.matrix;
    record.devbench = devbenchVersion();
    // The library devbench loads is read from its process during the run.
    if (wanted) {
        record.probeLibrary = probeLibrary(options.run.dir, probeIdentity);
        record.callingConvention = callingConvention(options.run.dir);
    }
    return record;
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything opens a file that would take the place of one.
    openStandardStreams();
#if defined(_WIN32)
    // The Windows C library buffers a line-buffered stream fully.
    setvbuf(stdout, nullptr, _IONBF, 0);
#else
    setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
    std::vector<std::string> arguments = commandLineArguments(argc, argv);
    if (arguments.size() > 1 && arguments[1] == "report")
        return signoff::reportCommand(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    if (arguments.size() > 1 && arguments[1] == "history")
        return history::historyCommand(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    std::vector<char*> utf8Argv;
    for (std::string& argument : arguments) utf8Argv.push_back(argument.data());
    utf8Argv.push_back(nullptr);
    Options options;
    int status = parseOptions(static_cast<int>(arguments.size()), utf8Argv.data(), &options);
    if (status >= 0) return status;
    if (!installInterrupts()) return EXIT_USAGE;
    options.run.stopFd = interruptFd();
    RecordFiles files(options.record, options.junit);
    std::string error;
    if (!files.open(&error)) {
        fprintf(stderr, "vpoperator: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    // A store that cannot be written stops the run before it starts.
    if (options.history && !history::checkStore(options.db, &error)) {
        fprintf(stderr, "vpoperator: --history: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    FileIdentity probeIdentity;
    RunRecord record = startRecord(options, files.wanted(), &probeIdentity);
    status = options.matrix ? runMatrix(options.run, options.jobs, &record) : runTests(options, &record);
    // holdprobe loads its library only for Test Port Locking: it is the one
    // read at the start while the file there now is still that one.
    if (record.probeLibrary && record.probeLibrary->read) recheckLibrary(*record.probeLibrary, probeIdentity);
    // Past a setup error, the run's one verdict decides the exit status.
    if (status != EXIT_USAGE) status = exitStatus(runVerdict(record));
    record.finished = utcTimestamp();
    if (files.wanted() && !record.library)
        fprintf(stderr, "vpoperator: the record names no library: devbench's process did not show which it loaded\n");
    if (files.wanted() && !files.write(record, &error)) {
        fprintf(stderr, "vpoperator: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    // A technician who double-clicked record.cmd has to find them.
    if (options.record) printText("vpoperator: record written to " + absolutePath(*options.record) + "\n");
    if (options.junit) printText("vpoperator: JUnit report written to " + absolutePath(*options.junit) + "\n");
    // The record is kept whatever the store says; a run it lost is a setup error.
    if (options.history && !history::addAfterRun(record, options.db)) return EXIT_USAGE;
    return status;
}
