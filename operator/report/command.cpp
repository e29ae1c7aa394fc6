#include "operator/report/command.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "operator/platform/host.h"
#include "operator/platform/output_file.h"
#include "operator/report/html.h"
#include "operator/report/markdown.h"
#include "operator/report/record.h"
#include "wire/nearest_name.h"

namespace vpop::signoff {

namespace {

const int EXIT_USAGE = 2;

const char usage[] = "usage: vpoperator report RECORD.json [--html FILE] [--markdown FILE]\n"
                     "       vpoperator report OLD.json NEW.json [MORE.json ...] [--html FILE] [--markdown FILE]\n"
                     "One record: the run's sign-off page (--html) or its Markdown summary (--markdown).\n"
                     "Several: the same tests side by side, one column per run, regressions and fixes marked.\n"
                     "FILE - writes to standard output. Exit status: 0 written, 2 usage error, a record that\n"
                     "cannot be read or a file that cannot be written.\n";

struct ReportOptions {
    std::vector<std::string> records;
    std::string html;
    std::string markdown;
};

bool parse(const std::vector<std::string>& arguments, ReportOptions* options, std::string* why)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--html" || arg == "--markdown") {
            if (i + 1 >= arguments.size()) return *why = "missing file after " + arg, false;
            (arg == "--html" ? options->html : options->markdown) = arguments[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return *why = wire::unknownName("option", arg, { "--html", "--markdown", "--help" }), false;
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
        return !a.empty() && !b.empty() && (a == b || fileIdentity(a) == fileIdentity(b));
    };
    if (same(options->html, options->markdown)) return *why = "--html and --markdown name the same file", false;
    for (const std::string& record : options->records) {
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
    std::vector<RecordedRun> runs(options.records.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        if (!readRecord(options.records[i], &runs[i], &error)) {
            fprintf(stderr, "vpoperator report: %s\n", error.c_str());
            return EXIT_USAGE;
        }
    }
    bool one = runs.size() == 1;
    bool toStandardOutput = options.html == "-" || options.markdown == "-";
    if (!options.html.empty()
        && !writeOutput(
            options.html, "page", one ? htmlReport(runs[0]) : htmlComparison(runs), toStandardOutput, &error)) {
        fprintf(stderr, "vpoperator report: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (!options.markdown.empty()
        && !writeOutput(options.markdown, "Markdown", one ? markdownReport(runs[0]) : markdownComparison(runs),
            toStandardOutput, &error)) {
        fprintf(stderr, "vpoperator report: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    return 0;
}

} // namespace vpop::signoff
