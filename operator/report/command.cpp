#include "operator/report/command.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

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
    = "usage: vpoperator report RECORD.json [--html FILE] [--markdown FILE]\n"
      "       vpoperator report RUN.json [MORE.json ...] [--baseline BASE.json] [--html FILE] [--markdown FILE]\n"
      "One record: the run's sign-off page (--html) or its Markdown summary (--markdown).\n"
      "Several: the same tests side by side, one column per run in the order they started, each\n"
      "against the run before it (or every one against --baseline), regressions and fixes marked.\n"
      "FILE - writes to standard output. Exit status: 0 written, 2 usage error, a record that\n"
      "cannot be read or a file that cannot be written.\n";

struct ReportOptions {
    std::vector<std::string> records;
    std::string baseline;
    std::string html;
    std::string markdown;
};

bool parse(const std::vector<std::string>& arguments, ReportOptions* options, std::string* why)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--html" || arg == "--markdown" || arg == "--baseline") {
            if (i + 1 >= arguments.size()) return *why = "missing file after " + arg, false;
            (arg == "--html"              ? options->html
                    : arg == "--markdown" ? options->markdown
                                          : options->baseline)
                = arguments[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return *why = wire::unknownName("option", arg, { "--html", "--markdown", "--baseline", "--help" }), false;
        } else {
            std::vector<std::string> files = matchingFiles(arg);
            if (files.empty()) return *why = "no record matches " + arg, false;
            options->records.insert(options->records.end(), files.begin(), files.end());
        }
    }
    if (options->records.empty()) return *why = "no record named", false;
    if (options->html.empty() && options->markdown.empty())
        return *why = "say where to write: --html FILE or --markdown FILE", false;
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
    return 0;
}

} // namespace vpop::signoff
