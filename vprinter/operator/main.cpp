// vpoperator: runs devbench against the virtual printer and plays the
// technician, answering each prompt by changing the printer's state.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "vprinter/operator/printer_control.h"
#include "vprinter/operator/processes.h"
#include "vprinter/operator/prompts.h"
#include "vprinter/operator/session.h"

namespace {

using namespace vpop;

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;
// devbench keeps at most 255 characters of an answer.
const size_t MAX_ANSWER = 255;

const char usage[] = "usage: vpoperator [--dir BUILD_DIR] [--tests a|N,N,...] [--settings TEXT] [--verbose]\n"
                     "                  [--timeout SEC] [--printer-option OPT ...] [--endpoint ENDPOINT]\n"
                     "                  [--devbench PATH]\n"
                     "Runs devbench from BUILD_DIR (default: this program's directory) against a virtual\n"
                     "printer it starts (or the one at ENDPOINT) and answers every prompt.\n"
                     "Exit status: 0 all tests passed, 1 a test failed or the run broke off, 2 usage or setup error.\n";

struct Options {
    std::string dir;
    std::string tests = "a";
    std::string settings;
    bool verbose = false;
    double timeout = 30;
    std::vector<std::string> printerOptions;
    std::string endpoint;
    std::string devbench;
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

bool fitsAnswer(const std::string& text)
{
    return text.size() <= MAX_ANSWER && text.find_first_of("\t\n") == std::string::npos;
}

// Returns -1 when the options are fine, else the exit status.
int parseOptions(int argc, char** argv, Options* options)
{
    auto bad = [](const std::string& why) {
        fprintf(stderr, "vpoperator: %s\n%s", why.c_str(), usage);
        return EXIT_USAGE;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printf("%s", usage);
            return 0;
        }
        if (arg == "--verbose") {
            options->verbose = true;
            continue;
        }
        if (i + 1 >= argc) return bad("missing value after " + arg);
        std::string value = argv[++i];
        if (arg == "--dir") {
            options->dir = value;
        } else if (arg == "--tests") {
            options->tests = value;
        } else if (arg == "--settings") {
            options->settings = value;
        } else if (arg == "--timeout") {
            char* end = nullptr;
            options->timeout = strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(options->timeout > 0) || options->timeout > 86400)
                return bad("--timeout wants seconds above 0, not '" + value + "'");
        } else if (arg == "--printer-option") {
            options->printerOptions.push_back(value);
        } else if (arg == "--endpoint") {
            options->endpoint = value;
        } else if (arg == "--devbench") {
            options->devbench = value;
        } else {
            return bad("unknown option " + arg);
        }
    }
    if (!fitsAnswer(options->settings)) return bad("--settings must be one line of at most 255 characters");
    return -1;
}

class Run {
public:
    explicit Run(const Options& options)
        : options_(options)
    {
    }
    ~Run() { cleanUp(); }

    int execute(const std::vector<MenuChoice>& plan, const char* argv0);

private:
    bool startPrinter(std::string* error);
    void printerOutput(bool verbose);
    bool apply(const std::vector<Action>& actions, Session& session, std::string* why);
    int report(const Session& session, double seconds, int devbenchStatus);
    void cleanUp();
    void say(const std::string& text) const
    {
        if (options_.verbose) printf("operator: %s\n", text.c_str());
    }

    const Options& options_;
    std::string dir_;
    std::string vprinterProgram_;
    std::string endpoint_;
    std::string socketDir_;
    Child printer_;
    Child devbench_;
    std::string printerPartial_;
};

bool Run::startPrinter(std::string* error)
{
    const char* tmp = getenv("TMPDIR");
    // A socket path must fit in sun_path (108 bytes).
    std::string base = tmp != nullptr && *tmp != '\0' && strlen(tmp) < 60 ? tmp : "/tmp";
    std::string pattern = base + "/vpoperator-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        *error = "cannot make a temporary directory in " + base + ": " + strerror(errno);
        return false;
    }
    socketDir_ = buffer.data();
    std::string socketPath = socketDir_ + "/printer.sock";

    std::vector<std::string> args = { vprinterProgram_, "serve", socketPath, "--no-console" };
    args.insert(args.end(), options_.printerOptions.begin(), options_.printerOptions.end());
    ChildOptions childOptions;
    childOptions.pipeOutput = true;
    if (!startChild(vprinterProgram_, args, childOptions, &printer_, error)) return false;

    const std::string listening = "listening on ";
    double deadline = monotonicSeconds() + options_.timeout;
    std::string pending;
    for (;;) {
        double left = deadline - monotonicSeconds();
        if (left <= 0) {
            *error
                = "the virtual printer did not say it was listening within " + std::to_string(options_.timeout) + " s";
            return false;
        }
        pollfd fds[2] = { { printer_.output, POLLIN, 0 }, { signalPipe[0], POLLIN, 0 } };
        int ready = poll(fds, 2, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (fds[1].revents != 0) {
            *error = "interrupted";
            return false;
        }
        if (ready <= 0) continue;
        char chunk[512];
        ssize_t n = read(printer_.output, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int status = -1;
            waitChild(printer_, 2, &status);
            *error = "the virtual printer ended before listening (status " + std::to_string(status) + ")";
            return false;
        }
        pending.append(chunk, static_cast<size_t>(n));
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (options_.verbose) printf("vprinter: %s\n", line.c_str());
            if (line.compare(0, listening.size(), listening) == 0) {
                endpoint_ = line.substr(listening.size());
                printerPartial_ = pending;
                return true;
            }
        }
    }
}

// Keeps the printer's output pipe drained so it can never block on it.
void Run::printerOutput(bool verbose)
{
    char chunk[4096];
    ssize_t n = read(printer_.output, chunk, sizeof chunk);
    if (n <= 0) {
        if (n == 0 || errno != EINTR) {
            close(printer_.output);
            printer_.output = -1;
        }
        return;
    }
    printerPartial_.append(chunk, static_cast<size_t>(n));
    size_t newline;
    while ((newline = printerPartial_.find('\n')) != std::string::npos) {
        if (verbose) printf("vprinter: %s\n", printerPartial_.substr(0, newline).c_str());
        printerPartial_.erase(0, newline + 1);
    }
}

bool Run::apply(const std::vector<Action>& actions, Session& session, std::string* why)
{
    for (const Action& action : actions) {
        switch (action.kind) {
        case Action::Echo:
            if (options_.verbose) printf("%s\n", action.text.c_str());
            break;
        case Action::SetPrinter: {
            std::string words;
            for (const std::string& word : action.settings) words += (words.empty() ? "" : " ") + word;
            say(words);
            std::string error;
            if (!setPrinter(endpoint_, action.settings, &error)) {
                *why = "cannot set the printer (" + words + ") " + session.where() + ": " + error;
                return false;
            }
            break;
        }
        case Action::Write:
            if (!writeAll(devbench_.input, action.text)) {
                *why = "devbench stopped reading its input " + session.where();
                return false;
            }
            break;
        case Action::Stop:
            *why = action.text;
            return false;
        }
    }
    return true;
}

int Run::execute(const std::vector<MenuChoice>& plan, const char* argv0)
{
    dir_ = absolute(options_.dir.empty() ? programDirectory(argv0) : options_.dir);
    vprinterProgram_ = dir_ + "/vprinter";
    std::string devbenchProgram = options_.devbench.empty() ? dir_ + "/devbench" : absolute(options_.devbench);

    std::string error;
    if (!options_.endpoint.empty()) {
        endpoint_ = options_.endpoint;
    } else if (!startPrinter(&error)) {
        fprintf(stderr, "vpoperator: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (!fitsAnswer(endpoint_)) {
        fprintf(stderr, "vpoperator: the endpoint '%s' cannot be typed as a port name\n", endpoint_.c_str());
        return EXIT_USAGE;
    }
    say("printer at " + endpoint_);

    ChildOptions childOptions;
    childOptions.directory = dir_;
    childOptions.pipeInput = true;
    childOptions.pipeOutput = true;
    if (!startChild(devbenchProgram, { devbenchProgram }, childOptions, &devbench_, &error)) {
        fprintf(stderr, "vpoperator: %s\n", error.c_str());
        return EXIT_USAGE;
    }

    Session session(endpoint_, options_.settings, plan);
    double started = monotonicSeconds();
    double lastOutput = started;
    std::string why;
    for (;;) {
        double quiet = monotonicSeconds() - lastOutput;
        if (quiet >= options_.timeout) {
            std::string pending = session.pendingOutput();
            char seconds[32];
            snprintf(seconds, sizeof seconds, "%g", options_.timeout);
            why = "devbench printed nothing for " + std::string(seconds) + " s " + session.where()
                + (pending.empty() ? "" : "; it last printed '" + pending + "'");
            break;
        }
        pollfd fds[3] = {
            { devbench_.output, POLLIN, 0 },
            { signalPipe[0], POLLIN, 0 },
            { printer_.output, POLLIN, 0 },
        };
        int ready = poll(fds, printer_.output >= 0 ? 3 : 2, static_cast<int>((options_.timeout - quiet) * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (fds[1].revents != 0) {
            why = "interrupted " + session.where();
            break;
        }
        if (printer_.output >= 0 && fds[2].revents != 0) {
            printerOutput(options_.verbose);
            if (printer_.output < 0) {
                why = "the virtual printer ended " + session.where();
                break;
            }
        }
        if (fds[0].revents == 0) continue;
        char chunk[4096];
        ssize_t n = read(devbench_.output, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        double now = monotonicSeconds();
        if (n <= 0) {
            int status = -1;
            if (!waitChild(devbench_, 5, &status)) stopChild(devbench_, 1);
            bool complete = session.finish(now, &why);
            if (complete && status == 0) return report(session, now - started, status);
            if (complete)
                why = "devbench exited with status " + std::to_string(status);
            else
                why += " (status " + std::to_string(status) + ")";
            report(session, now - started, status);
            fprintf(stderr, "vpoperator: %s\n", why.c_str());
            return EXIT_FAILED;
        }
        lastOutput = now;
        if (!apply(session.feed(std::string_view(chunk, static_cast<size_t>(n)), now), session, &why)) break;
    }
    stopChild(devbench_, 2);
    session.finish(monotonicSeconds(), nullptr);
    report(session, monotonicSeconds() - started, -1);
    fprintf(stderr, "vpoperator: %s; stopped\n", why.c_str());
    return EXIT_FAILED;
}

int Run::report(const Session& session, double seconds, int devbenchStatus)
{
    const auto& tests = suiteTests();
    if (!session.records().empty()) printf("\n%3s  %-38s %-8s %8s\n", "#", "test", "verdict", "time");
    unsigned passed = 0;
    for (const TestRecord& record : session.records()) {
        if (record.passed()) ++passed;
        std::string verdict(record.verdict());
        printf("%3u  %-38s %-8s %6.2f s\n", record.number, std::string(tests[record.number].name).c_str(),
            verdict.c_str(), record.seconds());
    }
    size_t total = session.records().size();
    printf("%u of %zu passed, total %.2f s\n", passed, total, seconds);
    bool headed = false;
    auto failureLine = [&](const std::string& where, const std::string& line) {
        if (!headed) printf("failure lines:\n");
        headed = true;
        printf("  %s: %s\n", where.c_str(), line.c_str());
    };
    for (const TestRecord& record : session.records()) {
        for (const std::string& line : record.failures) failureLine(std::to_string(record.number), line);
    }
    for (const std::string& line : session.strayFailures()) failureLine("outside any test", line);
    fflush(stdout);
    return session.passed() && devbenchStatus == 0 ? 0 : EXIT_FAILED;
}

void Run::cleanUp()
{
    stopChild(devbench_, 2);
    stopChild(printer_, 2);
    if (socketDir_.empty()) return;
    // The directory is ours alone; besides the socket it holds what the
    // library keeps beside a port (its lock file).
    if (DIR* dir = opendir(socketDir_.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") unlink((socketDir_ + "/" + name).c_str());
        }
        closedir(dir);
    }
    rmdir(socketDir_.c_str());
    socketDir_.clear();
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    int status = parseOptions(argc, argv, &options);
    if (status >= 0) return status;
    std::string error;
    auto plan = parseTestList(options.tests, &error);
    if (!plan) {
        fprintf(stderr, "vpoperator: --tests: %s\n%s", error.c_str(), usage);
        return EXIT_USAGE;
    }

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("vpoperator: pipe");
        return EXIT_USAGE;
    }
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Run run(options);
    return run.execute(*plan, argv[0]);
}
