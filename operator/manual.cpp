#include "operator/manual.h"

#include <stdio.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "operator/host.h"
#include "operator/processes.h"

namespace vpop {

namespace {

// devbench keeps at most 255 characters of an answer.
const size_t MAX_ANSWER = 255;

struct Event {
    enum Kind { Output, OutputEnded, Keys, KeysEnded, Interrupt };
    Kind kind;
    std::string data;
};

// devbench's output, the technician's keys and Ctrl-C each come from a thread
// of their own (Windows cannot wait on a console and a pipe together); the run
// takes them from here in order.
class Events {
public:
    void push(Event event)
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            queue_.push_back(std::move(event));
        }
        ready_.notify_one();
    }

    // Waits up to `seconds`, or for ever when it is negative.
    std::optional<Event> next(double seconds)
    {
        std::unique_lock<std::mutex> hold(lock_);
        auto some = [this] { return !queue_.empty(); };
        if (seconds < 0) {
            ready_.wait(hold, some);
        } else if (!ready_.wait_for(hold, std::chrono::duration<double>(seconds), some)) {
            return std::nullopt;
        }
        Event event = std::move(queue_.front());
        queue_.pop_front();
        return event;
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Event> queue_;
};

bool fitsAnswer(const std::string& text)
{
    return text.size() <= MAX_ANSWER && text.find_first_of("\t\n") == std::string::npos;
}

class ManualRun {
public:
    ManualRun(const RunOptions& options, const std::string& port, const std::vector<MenuChoice>& plan)
        : options_(options)
        , session_(port, options.settings, plan)
    {
        session_.setManual();
        session_.onTestEnded(options.onTestEnded);
    }
    ~ManualRun() { end(); }

    bool start(std::string* error);
    // Until devbench leaves or the run breaks off; `why` says why it broke off.
    void run(std::string* why);
    // Ends devbench if it still runs, and hands over the tests' records.
    void finish(RunOutcome* outcome);

private:
    bool handle(const Event& event, std::string* why);
    void output(std::string_view chunk, std::string* why);
    std::string withoutCarriageReturns(std::string_view chunk);
    bool takeEnter();
    void end();

    const RunOptions& options_;
    Session session_;
    std::shared_ptr<Events> events_ = std::make_shared<Events>();
    Child devbench_;
    std::thread reader_;
    // Keys the technician pressed that no prompt has taken yet.
    std::string keys_;
    // devbench's output not shown yet (see mayEndATest).
    std::string held_;
    bool keysEnded_ = false;
    bool heldReturn_ = false;
    bool interrupted_ = false;
    bool ended_ = false;
    double lastOutput_ = 0;
};

bool ManualRun::start(std::string* error)
{
    ChildOptions childOptions;
    childOptions.directory = options_.dir;
    childOptions.pipeInput = true;
    childOptions.pipeOutput = true;
    if (!startChild(options_.devbench, { options_.devbench }, childOptions, &devbench_, error)) return false;
    // The reader gets the output pipe alone; the child's other handles
    // change while it reads.
    Child output;
    output.output = devbench_.output;
    reader_ = std::thread([output, events = events_]() mutable {
        char chunk[4096];
        while (size_t n = readOutput(output, chunk, sizeof chunk)) events->push({ Event::Output, { chunk, n } });
        events->push({ Event::OutputEnded, {} });
    });
    // The technician may never press a key again: this reader is left
    // blocked when the run is over, and holds nothing of it but the queue.
    std::thread([events = events_] {
        char keys[256];
        while (size_t n = readKeys(keys, sizeof keys)) events->push({ Event::Keys, { keys, n } });
        events->push({ Event::KeysEnded, {} });
    }).detach();
    onInterrupt([events = events_] { events->push({ Event::Interrupt, {} }); });
    lastOutput_ = monotonicSeconds();
    return true;
}

void ManualRun::run(std::string* why)
{
    for (;;) {
        if (session_.awaitingEnter()) {
            if (takeEnter()) {
                session_.enterGiven();
                lastOutput_ = monotonicSeconds();
                if (!writeInput(devbench_, "\n")) {
                    *why = "devbench stopped reading its input " + session_.where();
                    return;
                }
                continue;
            }
            if (keysEnded_) {
                *why = "the technician's input ended while devbench waited for Enter " + session_.where();
                return;
            }
        }
        // Waiting for the technician has no time limit; devbench at work does.
        double wait = -1;
        if (!session_.awaitingEnter()) {
            wait = options_.timeout - (monotonicSeconds() - lastOutput_);
            if (wait <= 0) {
                char seconds[32];
                snprintf(seconds, sizeof seconds, "%g", options_.timeout);
                *why = "devbench printed nothing for " + std::string(seconds) + " s " + session_.where();
                return;
            }
        }
        std::optional<Event> event = events_->next(wait);
        if (event && !handle(*event, why)) return;
    }
}

bool ManualRun::handle(const Event& event, std::string* why)
{
    switch (event.kind) {
    case Event::Output:
        lastOutput_ = monotonicSeconds();
        output(event.data, why);
        return why->empty();
    case Event::OutputEnded: {
        int status = -1;
        if (!waitChild(devbench_, 5, &status)) killChild(devbench_);
        if (!session_.finish(monotonicSeconds(), why)) {
            *why += " (status " + std::to_string(status) + ")";
        } else if (status != 0) {
            *why = "devbench exited with status " + std::to_string(status);
        }
        return false;
    }
    case Event::Keys:
        keys_ += event.data;
        return true;
    case Event::KeysEnded:
        keysEnded_ = true;
        return true;
    case Event::Interrupt:
        interrupted_ = true;
        *why = "interrupted " + session_.where();
        return false;
    }
    return true;
}

// devbench's C library may write a line and its newline apart. The start of
// a line that would end a test waits for the rest, so the test's row comes
// out before that line, not in the middle of it; questions and prompts, which
// wait for an answer, start otherwise and show at once.
bool mayEndATest(std::string_view partial)
{
    if (partial.empty()) return false;
    auto starts = [&](std::string_view line) { return line.substr(0, partial.size()) == partial; };
    if (starts(menuHeading)) return true;
    for (const SuiteTest& test : suiteTests()) {
        if (starts(test.banner)) return true;
    }
    return false;
}

// Line by line, so that a test's row comes out right where its output ends,
// before the menu or the next banner.
void ManualRun::output(std::string_view chunk, std::string* why)
{
    std::string text = withoutCarriageReturns(chunk);
    for (size_t start = 0; start < text.size() && why->empty();) {
        size_t newline = text.find('\n', start);
        size_t end = newline == std::string::npos ? text.size() : newline + 1;
        std::string_view piece(text.data() + start, end - start);
        start = end;
        bool waited = session_.awaitingEnter();
        std::vector<Action> actions = session_.feed(piece, monotonicSeconds());
        held_.append(piece);
        if (!mayEndATest(session_.pendingOutput())) {
            fwrite(held_.data(), 1, held_.size(), stdout);
            held_.clear();
        }
        // Keys pressed at a terminal before the prompt showed were not meant
        // for it; piped keys are meant for the prompts in turn.
        if (!waited && session_.awaitingEnter() && keysFromTerminal()) keys_.clear();
        for (const Action& action : actions) {
            if (action.kind == Action::Stop) {
                *why = action.text;
            } else if (action.kind == Action::Write) {
                // Shown as a terminal would echo it.
                fwrite(action.text.data(), 1, action.text.size(), stdout);
                if (!writeInput(devbench_, action.text))
                    *why = "devbench stopped reading its input " + session_.where();
            }
        }
    }
    fflush(stdout);
}

// devbench.exe writes its newlines as CR LF; a CR on its own (a name
// character of Test Read) stays.
std::string ManualRun::withoutCarriageReturns(std::string_view chunk)
{
#if defined(_WIN32)
    std::string text = heldReturn_ ? "\r" : "";
    text.append(chunk);
    heldReturn_ = false;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 == text.size()) {
            heldReturn_ = true;
        } else if (text[i] != '\r' || text[i + 1] != '\n') {
            out += text[i];
        }
    }
    return out;
#else
    (void)heldReturn_;
    return std::string(chunk);
#endif
}

// Only Enter goes back: devbench reads one character per prompt, and any
// other key would leave the Enter behind to answer the next prompt unread.
bool ManualRun::takeEnter()
{
    size_t newline = keys_.find('\n');
    if (newline == std::string::npos) return false;
    keys_.erase(0, newline + 1);
    return true;
}

void ManualRun::finish(RunOutcome* outcome)
{
    end();
    fwrite(held_.data(), 1, held_.size(), stdout);
    fflush(stdout);
    session_.finish(monotonicSeconds(), nullptr);
    outcome->records = session_.records();
    outcome->strayFailures = session_.strayFailures();
    outcome->interrupted = interrupted_;
}

// The child's whole group ends before its output is closed, so the reader
// sees the end of the output rather than a closed handle.
void ManualRun::end()
{
    if (ended_) return;
    ended_ = true;
    killChild(devbench_);
    if (reader_.joinable()) reader_.join();
    stopChild(devbench_, 1);
}

} // namespace

RunOutcome runManual(const RunOptions& options, const std::string& port, const std::vector<MenuChoice>& plan)
{
    RunOutcome outcome;
    outcome.portName = port;
    auto setupFailed = [&](const std::string& why) {
        outcome.setupFailed = true;
        outcome.broken = why;
        return outcome;
    };
    if (!fitsAnswer(port)) return setupFailed("the port name must be one line of at most 255 characters");
    if (!fitsAnswer(options.settings)) return setupFailed("the settings must be one line of at most 255 characters");
    ManualRun run(options, port, plan);
    std::string error;
    if (!run.start(&error)) return setupFailed(error);
    double started = monotonicSeconds();
    run.run(&outcome.broken);
    run.finish(&outcome);
    outcome.seconds = monotonicSeconds() - started;
    return outcome;
}

} // namespace vpop
