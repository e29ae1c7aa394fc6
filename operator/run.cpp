#include "operator/run.h"

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <optional>

#include "operator/paper_check.h"
#include "operator/printer_control.h"
#include "operator/processes.h"
#include "wire/endpoint.h"
#include "wire/portlock.h"

namespace vpop {

namespace {

// devbench keeps at most 255 characters of an answer.
const size_t MAX_ANSWER = 255;

bool fitsAnswer(const std::string& text)
{
    return text.size() <= MAX_ANSWER && text.find_first_of("\t\n") == std::string::npos;
}

class Run {
public:
    explicit Run(const RunOptions& options)
        : options_(options)
    {
    }
    ~Run() { cleanUp(); }

    RunOutcome execute(const std::vector<MenuChoice>& plan);

private:
    bool start(std::string* why);
    bool startPrinter(std::string* error);
    std::string converse(Session& session, bool* interrupted);
    std::string silence(const Session& session) const;
    bool devbenchOutput(Session& session, double* lastOutput, std::string* why);
    void rememberLock();
    void printerOutput();
    bool startPaper();
    void readPaper(TestRecord& record);
    bool apply(const std::vector<Action>& actions, Session& session, std::string* why);
    void cleanUp();
    void say(const std::string& text) const
    {
        if (options_.verbose) printf("operator: %s\n", text.c_str());
    }

    const RunOptions& options_;
    std::string endpoint_;
    std::string socketDir_;
    std::string lockFile_;
    Child printer_;
    Child devbench_;
    std::string printerPartial_;
    // The jobs the printer had taken when the last test ended; unknown when
    // its paper could not be read (paperError_ says why).
    std::optional<uint64_t> paperSeen_;
    std::string paperError_;
};

// The printer's own pace is a person's; the operator opens the cover at the
// NOW line at once, so fast jobs keep the run short. --printer-option may
// still ask for another pace: the printer takes the last value.
const std::vector<std::string> FAST_PRINTING = { "--print-ms", "100", "--print-speed", "4000000" };

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

    std::string program = options_.dir + "/vprinter";
    std::vector<std::string> args = { program, "serve", socketDir_ + "/printer.sock", "--no-console" };
    args.insert(args.end(), FAST_PRINTING.begin(), FAST_PRINTING.end());
    args.insert(args.end(), options_.printerOptions.begin(), options_.printerOptions.end());
    ChildOptions childOptions;
    childOptions.pipeOutput = true;
    if (!startChild(program, args, childOptions, &printer_, error)) return false;

    const std::string listening = "listening on ";
    double deadline = monotonicSeconds() + options_.timeout;
    for (;;) {
        double left = deadline - monotonicSeconds();
        if (left <= 0) {
            *error = "the virtual printer did not say it was listening in time";
            return false;
        }
        pollfd fds[2] = { { printer_.output, POLLIN, 0 }, { options_.stopFd, POLLIN, 0 } };
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
        printerPartial_.append(chunk, static_cast<size_t>(n));
        size_t newline;
        while ((newline = printerPartial_.find('\n')) != std::string::npos) {
            std::string line = printerPartial_.substr(0, newline);
            printerPartial_.erase(0, newline + 1);
            if (options_.verbose) printf("vprinter: %s\n", line.c_str());
            if (line.compare(0, listening.size(), listening) == 0) {
                endpoint_ = line.substr(listening.size());
                rememberLock();
                return true;
            }
        }
    }
}

// A holder killed with devbench leaves the lock of this printer's port
// behind; it is this run's to remove, as nobody else was given the printer.
void Run::rememberLock()
{
    vprinter::Endpoint endpoint;
    std::string error;
    if (vprinter::parseEndpoint(endpoint_, &endpoint, &error))
        lockFile_ = vprinter::portLockPlace(vprinter::lockName(endpoint));
}

// Keeps the printer's output pipe drained so it can never block on it.
void Run::printerOutput()
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
        if (options_.verbose) printf("vprinter: %s\n", printerPartial_.substr(0, newline).c_str());
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

bool Run::startPaper()
{
    uint64_t count = 0;
    if (!jobsSoFar(endpoint_, &count, &paperError_)) return false;
    paperSeen_ = count;
    return true;
}

// The jobs since the last reading are the ended test's, whole: the printer
// puts bytes on its paper as it takes them, and a test that sends asks the
// operator for something before it opens the port, which the operator does
// only once this reading is done.
void Run::readPaper(TestRecord& record)
{
    std::vector<PaperJob> jobs;
    std::string error = paperError_;
    if (paperSeen_ && readNewJobs(endpoint_, &*paperSeen_, &jobs, &error)) {
        judgePaper(record, std::move(jobs), "");
        return;
    }
    judgePaper(record, std::nullopt, error);
    // The next test's jobs start after whatever the printer holds now.
    paperSeen_.reset();
    startPaper();
}

RunOutcome Run::execute(const std::vector<MenuChoice>& plan)
{
    RunOutcome outcome;
    std::string why;
    if (!start(&why)) {
        outcome.setupFailed = true;
        outcome.interrupted = why == "interrupted";
        outcome.broken = why;
        return outcome;
    }
    outcome.portName = endpoint_;
    Session session(endpoint_, options_.settings, plan);
    // A printer that cannot be read before the run (one that does not answer
    // at all) leaves every job unchecked, and the records say so.
    if (startPaper()) {
        session.onTestEnding([this](TestRecord& record) { readPaper(record); });
    } else {
        fprintf(stderr, "vpoperator: the jobs on the paper are not checked: %s\n", paperError_.c_str());
    }
    session.onTestEnded(options_.onTestEnded);
    double started = monotonicSeconds();
    outcome.broken = converse(session, &outcome.interrupted);
    stopChild(devbench_, 2);
    double ended = monotonicSeconds();
    session.finish(ended, nullptr);
    outcome.records = session.records();
    outcome.strayFailures = session.strayFailures();
    outcome.seconds = ended - started;
    return outcome;
}

// The printer (unless one was given) and devbench.
bool Run::start(std::string* why)
{
    if (!fitsAnswer(options_.settings)) {
        *why = "the settings must be one line of at most 255 characters";
        return false;
    }
    if (!options_.endpoint.empty()) {
        endpoint_ = options_.endpoint;
    } else if (!startPrinter(why)) {
        return false;
    }
    if (!fitsAnswer(endpoint_)) {
        *why = "the endpoint '" + endpoint_ + "' cannot be typed as a port name";
        return false;
    }
    say("printer at " + endpoint_ + (options_.settings.empty() ? "" : ", settings " + options_.settings));
    ChildOptions childOptions;
    childOptions.directory = options_.dir;
    childOptions.pipeInput = true;
    childOptions.pipeOutput = true;
    return startChild(options_.devbench, { options_.devbench }, childOptions, &devbench_, why);
}

// The dialogue until devbench leaves; returns why the run broke off, or
// nothing when devbench left as it was asked to.
std::string Run::converse(Session& session, bool* interrupted)
{
    double lastOutput = monotonicSeconds();
    std::string why;
    for (;;) {
        double quiet = monotonicSeconds() - lastOutput;
        if (quiet >= options_.timeout) return silence(session);
        pollfd fds[3] = {
            { devbench_.output, POLLIN, 0 },
            { options_.stopFd, POLLIN, 0 },
            { printer_.output, POLLIN, 0 },
        };
        int ready = poll(fds, printer_.output >= 0 ? 3 : 2, static_cast<int>((options_.timeout - quiet) * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (fds[1].revents != 0) {
            *interrupted = true;
            return "interrupted " + session.where();
        }
        if (printer_.output >= 0 && fds[2].revents != 0) {
            printerOutput();
            if (printer_.output < 0) return "the virtual printer ended " + session.where();
        }
        if (fds[0].revents != 0 && !devbenchOutput(session, &lastOutput, &why)) return why;
    }
}

std::string Run::silence(const Session& session) const
{
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%g", options_.timeout);
    const std::string& pending = session.pendingOutput();
    return "devbench printed nothing for " + std::string(seconds) + " s " + session.where()
        + (pending.empty() ? "" : "; it last printed '" + pending + "'");
}

// Reads what devbench printed and answers it. False once the dialogue is
// over: devbench ended (*why empty when it left as asked) or the run broke off.
bool Run::devbenchOutput(Session& session, double* lastOutput, std::string* why)
{
    char chunk[4096];
    ssize_t n = read(devbench_.output, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return true;
    double now = monotonicSeconds();
    if (n <= 0) {
        int status = -1;
        if (!waitChild(devbench_, 5, &status)) stopChild(devbench_, 1);
        if (!session.finish(now, why)) {
            *why += " (status " + std::to_string(status) + ")";
        } else if (status != 0) {
            *why = "devbench exited with status " + std::to_string(status);
        }
        return false;
    }
    *lastOutput = now;
    return apply(session.feed(std::string_view(chunk, static_cast<size_t>(n)), now), session, why);
}

void Run::cleanUp()
{
    stopChild(devbench_, 2);
    stopChild(printer_, 2);
    if (!lockFile_.empty()) unlink(lockFile_.c_str());
    lockFile_.clear();
    if (socketDir_.empty()) return;
    // The directory is ours alone.
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

RunOutcome runOperator(const RunOptions& options, const std::vector<MenuChoice>& plan)
{
    Run run(options);
    return run.execute(plan);
}

} // namespace vpop
