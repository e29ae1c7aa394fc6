// vpoperator: runs devbench against the virtual printer and plays the
// technician, answering each prompt by changing the printer's state.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "operator/faults.h"
#include "operator/run.h"

namespace {

using namespace vpop;

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

const char usage[] = "usage: vpoperator [--dir BUILD_DIR] [--tests a|N,N,...] [--settings TEXT] [--verbose]\n"
                     "                  [--timeout SEC] [--printer-option OPT ...] [--endpoint ENDPOINT]\n"
                     "                  [--devbench PATH]\n"
                     "       vpoperator --matrix [--dir BUILD_DIR] [--settings TEXT] [--verbose] [--timeout SEC]\n"
                     "Runs devbench from BUILD_DIR (default: this program's directory) against a virtual\n"
                     "printer it starts (or the one at ENDPOINT) and answers every prompt.\n"
                     "--matrix runs the tests of every fault profile and shows which faults the suite catches.\n"
                     "Exit status: 0 all tests passed, 1 a test failed or the run broke off, 2 usage or setup error.\n";

struct Options {
    RunOptions run;
    std::string tests = "a";
    bool matrix = false;
};

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    int saved = errno;
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

std::string programDirectory(const char* argv0)
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv0);
    size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

std::string absolute(const std::string& path)
{
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
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
        if (arg == "--verbose") {
            run.verbose = true;
            continue;
        }
        if (arg == "--matrix") {
            options->matrix = true;
            continue;
        }
        if (i + 1 >= argc) return bad("missing value after " + arg);
        std::string value = argv[++i];
        if (arg == "--dir") {
            run.dir = value;
        } else if (arg == "--tests") {
            options->tests = value;
        } else if (arg == "--settings") {
            run.settings = value;
        } else if (arg == "--timeout") {
            char* end = nullptr;
            run.timeout = strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(run.timeout > 0) || run.timeout > 86400)
                return bad("--timeout wants seconds above 0, not '" + value + "'");
        } else if (arg == "--printer-option") {
            run.printerOptions.push_back(value);
        } else if (arg == "--endpoint") {
            run.endpoint = value;
        } else if (arg == "--devbench") {
            run.devbench = value;
        } else {
            return bad("unknown option " + arg);
        }
    }
    if (options->matrix && (!run.endpoint.empty() || !run.devbench.empty() || !run.printerOptions.empty()))
        return bad("--matrix starts its own printers and suites");
    run.dir = absolute(run.dir.empty() ? programDirectory(argv[0]) : run.dir);
    run.devbench = run.devbench.empty() ? run.dir + "/devbench" : absolute(run.devbench);
    return -1;
}

std::vector<MenuChoice> oneByOne(const std::vector<unsigned>& tests)
{
    std::vector<MenuChoice> plan;
    for (unsigned test : tests) plan.push_back({ std::to_string(test), { test } });
    return plan;
}

int runMatrix(const RunOptions& options)
{
    // A test that fails without any fault would make every catch meaningless.
    RunOutcome healthy = runOperator(options, oneByOne(catalogueTests()));
    if (!healthy.passed()) {
        printReport(healthy);
        fprintf(stderr, "vpoperator: the healthy run failed%s%s; no fault can be judged\n",
            healthy.broken.empty() ? "" : ": ", healthy.broken.c_str());
        return healthy.setupFailed && !healthy.interrupted ? EXIT_USAGE : EXIT_FAILED;
    }
    printf("healthy run of the matrix tests: all passed (%.2f s)\n\n", healthy.seconds);
    printf("%-28s %-42s %s\n", "fault", "expected test", "caught");
    const auto& tests = suiteTests();
    unsigned caught = 0;
    double seconds = healthy.seconds;
    for (const FaultCase& fault : faultCatalogue()) {
        RunOptions faulty = options;
        faulty.settings = combinedSettings(options.settings, fault.librarySetting);
        for (std::string_view option : fault.printerOptions) faulty.printerOptions.emplace_back(option);
        RunOutcome outcome = runOperator(faulty, oneByOne(fault.tests));
        seconds += outcome.seconds;
        if (outcome.interrupted) {
            fprintf(stderr, "vpoperator: interrupted\n");
            return EXIT_FAILED;
        }
        Judgement judgement = judge(fault, outcome);
        if (judgement.caught) ++caught;
        std::string expected = std::to_string(fault.expectedTest) + " " + std::string(tests[fault.expectedTest].name);
        printf("%-28s %-42s %s%s%s\n", std::string(fault.fault).c_str(), expected.c_str(),
            judgement.caught ? "yes" : "NO", judgement.note.empty() ? "" : "  ", judgement.note.c_str());
    }
    size_t total = faultCatalogue().size();
    printf("%u of %zu faults caught, total %.2f s\n", caught, total, seconds);
    return caught == total ? 0 : EXIT_FAILED;
}

// A signal only wakes the run, which then stops what it started itself.
bool installSignals()
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("vpoperator: pipe");
        return false;
    }
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    int status = parseOptions(argc, argv, &options);
    if (status >= 0) return status;
    if (!installSignals()) return EXIT_USAGE;
    options.run.stopFd = signalPipe[0];
    if (options.matrix) return runMatrix(options.run);

    std::string error;
    auto plan = parseTestList(options.tests, &error);
    if (!plan) {
        fprintf(stderr, "vpoperator: --tests: %s\n%s", error.c_str(), usage);
        return EXIT_USAGE;
    }

    RunOutcome outcome = runOperator(options.run, *plan);
    if (outcome.setupFailed) {
        fprintf(stderr, "vpoperator: %s\n", outcome.broken.c_str());
        return outcome.interrupted ? EXIT_FAILED : EXIT_USAGE;
    }
    printReport(outcome);
    if (!outcome.broken.empty()) fprintf(stderr, "vpoperator: %s; stopped\n", outcome.broken.c_str());
    return outcome.passed() ? 0 : EXIT_FAILED;
}
