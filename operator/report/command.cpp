#include "operator/report/command.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <optional>

#include "operator/platform/host.h"
#include "operator/platform/output_file.h"
#include "operator/record/json_record.h"
#include "operator/report/html.h"
#include "operator/report/markdown.h"
#include "wire/nearest_name.h"

namespace vpop::signoff {

namespace {

const int EXIT_USAGE = 2;

const char usage[]
    = "usage: vpoperator report RECORD.json [--html FILE] [--markdown FILE] [--fail-on fail]\n"
      "       vpoperator report RUN.json [MORE.json ...] [--baseline BASE.json] [--html FILE] [--markdown FILE]\n"
      "                         [--fail-on regression|fail]\n"
      "One record: the run's sign-off page (--html) or its Markdown summary (--markdown); with\n"
      "neither, the page beside the record (run.json: run.html).\n"
      "Several: the same tests side by side, one column per run, bench by bench in the order they\n"
      "started, each against its bench's run before it (or every one against --baseline),\n"
      "regressions, fixes and flaky tests marked; past 12 runs each bench's last 5, and one row\n"
      "per bench. With neither output, the page comparison.html beside the first record.\n"
      "--fail-on regression exits 1 when a run regressed; --fail-on fail when a bench's last run\n"
      "did not pass (for CI). FILE - writes to standard output. Exit status: 0 written, 1 what\n"
      "--fail-on names was found, 2 usage error, a record that cannot be read or a file that\n"
      "cannot be written.\n";

const int EXIT_FOUND = 1;

struct ReportOptions {
    std::vector<std::string> records;
    std::string baseline;
    std::string html;
    std::string markdown;
    std::string failOn;
};

const std::vector<std::string> failOnWords = { "regression", "fail" };

// Where a report nobody placed goes: beside its record, named for it.
std::string pageBeside(const ReadRun& first, bool compared)
{
    std::string folder = directoryOf(first.file);
    if (compared) return joinPath(folder, "comparison.html");
    std::string name = first.file.substr(folder.empty() ? 0 : first.file.find_last_of("/\\") + 1);
    size_t dot = name.rfind(".json");
    if (dot != std::string::npos && dot + 5 == name.size()) name.resize(dot);
    return joinPath(folder, name + ".html");
}

bool parse(const std::vector<std::string>& arguments, ReportOptions* options, std::string* why)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--html" || arg == "--markdown" || arg == "--baseline" || arg == "--fail-on") {
            if (i + 1 >= arguments.size()) return *why = "missing value after " + arg, false;
            (arg == "--html"              ? options->html
                    : arg == "--markdown" ? options->markdown
                    : arg == "--fail-on"  ? options->failOn
                                          : options->baseline)
                = arguments[++i];
            if (arg == "--fail-on"
                && std::find(failOnWords.begin(), failOnWords.end(), options->failOn) == failOnWords.end())
                return *why = wire::unknownName("--fail-on value", options->failOn, failOnWords), false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return *why
                   = wire::unknownName("option", arg, { "--html", "--markdown", "--baseline", "--fail-on", "--help" }),
                   false;
        } else {
            std::vector<std::string> files = matchingFiles(arg);
            if (files.empty()) return *why = "no record matches " + arg, false;
            options->records.insert(options->records.end(), files.begin(), files.end());
        }
    }
    if (options->records.empty()) return *why = "no record named", false;
    // By identity too: ./a.html and a link to it are a.html.
    auto same = [](const std::string& a, const std::string& b) {
        return !a.empty() && !b.empty() && (a == b || fileKey(a) == fileKey(b));
    };
    if (same(options->html, options->markdown)) return *why = "--html and --markdown name the same file", false;
    std::vector<std::string> read = options->records;
    if (!options->baseline.empty()) read.push_back(options->baseline);
    for (const std::string& record : read) {
        if (same(record, options->html) || same(record, options->markdown))
            return *why = record + " is a record to read and a file to write", false;
    }
    return true;
}

bool writeOutput(const std::string& path, const std::string& what, const std::string& text, bool toStandardOutput,
    std::string* error)
{
    if (path == "-") {
        bool wrote = fwrite(text.data(), 1, text.size(), stdout) == text.size() && fflush(stdout) == 0;
        if (!wrote) *error = std::string("cannot write to standard output: ") + strerror(errno);
        return wrote;
    }
    OutputFile file(path);
    if (!file.check(error) || !file.write(text, error)) return false;
    // As a run names its records: the person who asked must find the file.
    // Standard error when standard output carries the other report.
    std::string where = "vpoperator report: " + what + " written to " + absolutePath(path) + "\n";
    if (toStandardOutput)
        fputs(where.c_str(), stderr);
    else
        printText(where);
    return true;
}

// What --fail-on asks about the records, for CI: said on standard error.
bool found(const std::string& failOn, const std::vector<ReadRun>& runs, const ReadRun* baseline)
{
    if (failOn.empty()) return false;
    Grid grid = compareRuns(runs, baseline);
    bool regressed = failOn == "regression" && anyRegression(grid);
    bool failed = failOn == "fail" && lastRunFailed(grid);
    if (regressed)
        fprintf(
            stderr, "vpoperator report: %u regression%s found\n", grid.regressions, grid.regressions == 1 ? "" : "s");
    if (failed) fprintf(stderr, "vpoperator report: a bench's last run did not pass\n");
    return regressed || failed;
}

} // namespace

int reportCommand(const std::vector<std::string>& arguments)
{
    for (const std::string& arg : arguments) {
        if (arg == "--help" || arg == "-h") return printf("%s", usage), 0;
    }
    ReportOptions options;
    std::string error;
    if (!parse(arguments, &options, &error)) {
        fprintf(stderr, "vpoperator report: %s\n%s", error.c_str(), usage);
        return EXIT_USAGE;
    }
    bool compared = options.records.size() > 1 || !options.baseline.empty();
    std::vector<ReadRun> runs;
    std::optional<ReadRun> baseline;
    for (size_t i = 0; i <= options.records.size(); ++i) {
        bool isBaseline = i == options.records.size();
        if (isBaseline && options.baseline.empty()) break;
        ReadRun run { isBaseline ? options.baseline : options.records[i], {} };
        if (!readRecord(run.file, &run.record, &error)) {
            fprintf(stderr, "vpoperator report: %s\n", error.c_str());
            return EXIT_USAGE;
        }
        if (compared) keepForComparison(&run.record);
        if (isBaseline) {
            baseline = std::move(run);
        } else {
            runs.push_back(std::move(run));
        }
    }
    const ReadRun* base = baseline ? &*baseline : nullptr;
    if (options.html.empty() && options.markdown.empty()) options.html = pageBeside(runs.front(), compared);
    bool toStandardOutput = options.html == "-" || options.markdown == "-";
    if (!options.html.empty()
        && !writeOutput(options.html, "page", compared ? htmlComparison(runs, base) : htmlReport(runs[0]),
            toStandardOutput, &error)) {
        fprintf(stderr, "vpoperator report: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (!options.markdown.empty()
        && !writeOutput(options.markdown, "Markdown",
            compared ? markdownComparison(runs, base) : markdownReport(runs[0]), toStandardOutput, &error)) {
        fprintf(stderr, "vpoperator report: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    return found(options.failOn, runs, base) ? EXIT_FOUND : 0;
}

} // namespace vpop::signoff
