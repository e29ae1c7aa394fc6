#include "operator/run/dialogue.h"

#include <stdio.h>

#include "operator/platform/events.h"
#include "operator/platform/host.h"
#include "operator/platform/processes.h"

namespace vpop {

namespace {

class Dialogue {
public:
    Dialogue(const RunOptions& options, Session& session, const Answerer& answerer, Child& devbench)
        : options_(options)
        , session_(session)
        , answerer_(answerer)
        , devbench_(devbench)
    {
    }

    // Returns why the run broke off; empty when devbench left as asked.
    std::string run(Events& events, bool* interrupted);
    // What is held back of devbench's output, shown once the run is over.
    void flush();
    const std::string& library() const { return library_; }

private:
    bool handle(const Event& event, std::string* why, bool* interrupted);
    bool typeEnter(std::string* why);
    void output(std::string_view chunk, std::string* why);
    void show(std::string_view piece, const std::vector<Action>& actions, bool waited);
    bool act(const std::vector<Action>& actions, std::string* why);
    std::string ended();
    std::string silence() const;
    std::string withoutCarriageReturns(std::string_view chunk);

    const RunOptions& options_;
    Session& session_;
    const Answerer& answerer_;
    Child& devbench_;
    double lastOutput_ = 0;
    // Keys the technician pressed that no prompt has taken yet.
    std::string keys_;
    bool keysEnded_ = false;
    // devbench's output not shown yet (see Session::testMayBeEnding).
    std::string held_;
    bool heldReturn_ = false;
    bool libraryAsked_ = false;
    std::string library_;
};

std::string Dialogue::run(Events& events, bool* interrupted)
{
    lastOutput_ = monotonicSeconds();
    for (;;) {
        std::string why;
        if (session_.awaitingEnter()) {
            if (typeEnter(&why)) continue;
            if (!why.empty()) return why;
        }
        // Waiting for the technician has no time limit; devbench at work does.
        double wait = -1;
        if (!session_.awaitingEnter()) {
            wait = options_.timeout - (monotonicSeconds() - lastOutput_);
            if (wait <= 0) return silence();
        }
        if (!handle(events.next(wait), &why, interrupted)) return why;
    }
}

bool Dialogue::handle(const Event& event, std::string* why, bool* interrupted)
{
    switch (event.kind) {
    case Event::Quiet:
        return true;
    case Event::Output:
        // devbench prints only once the loader has loaded its library.
        if (!libraryAsked_) library_ = loadedModule(devbench_, libraryFileName);
        libraryAsked_ = true;
        lastOutput_ = monotonicSeconds();
        output(event.data, why);
        return why->empty();
    case Event::OutputEnded:
        *why = ended();
        return false;
    case Event::Keys:
        keys_ += event.data;
        return true;
    case Event::KeysEnded:
        keysEnded_ = true;
        return true;
    case Event::PrinterOutput:
        if (answerer_.takePrinterOutput) answerer_.takePrinterOutput(event.data);
        return true;
    case Event::PrinterEnded:
        *why = "the virtual printer ended " + session_.where();
        return false;
    case Event::Stop:
        *interrupted = true;
        *why = "interrupted " + session_.where();
        return false;
    }
    return true;
}

// Only Enter goes back: devbench reads one character per prompt, and any
// other key would leave the Enter behind to answer the next prompt unread.
// False when no Enter was typed (`why` says so when none ever will be).
bool Dialogue::typeEnter(std::string* why)
{
    size_t newline = keys_.find('\n');
    if (newline == std::string::npos) {
        if (keysEnded_) *why = "the technician's input ended while devbench waited for Enter " + session_.where();
        return false;
    }
    keys_.erase(0, newline + 1);
    session_.enterGiven();
    lastOutput_ = monotonicSeconds();
    if (writeInput(devbench_, "\n")) return true;
    *why = "devbench stopped reading its input " + session_.where();
    return false;
}

// Line by line, so that a test's row comes out right where its output ends,
// before the menu or the next banner.
void Dialogue::output(std::string_view chunk, std::string* why)
{
    std::string text = withoutCarriageReturns(chunk);
    for (size_t start = 0; start < text.size() && why->empty();) {
        size_t newline = text.find('\n', start);
        size_t end = newline == std::string::npos ? text.size() : newline + 1;
        std::string_view piece(text.data() + start, end - start);
        start = end;
        bool waited = session_.awaitingEnter();
        std::vector<Action> actions = session_.feed(piece, monotonicSeconds());
        show(piece, actions, waited);
        act(actions, why);
    }
    fflush(stdout);
}

// A technician sees devbench's output as it comes (a verbose run its lines
// and answers), but what may follow the end of a test waits for its row.
void Dialogue::show(std::string_view piece, const std::vector<Action>& actions, bool waited)
{
    if (answerer_.byHand) {
        held_.append(piece);
    } else if (options_.verbose) {
        for (const Action& action : actions) {
            if (action.kind == Action::Echo) held_.append(action.text).append("\n");
        }
    }
    if (!session_.testMayBeEnding()) flush();
    // Keys pressed at a terminal before the prompt showed were not meant
    // for it; piped keys are meant for the prompts in turn.
    if (!waited && session_.awaitingEnter() && keysFromTerminal()) keys_.clear();
}

void Dialogue::flush()
{
    fwrite(held_.data(), 1, held_.size(), stdout);
    held_.clear();
}

bool Dialogue::act(const std::vector<Action>& actions, std::string* why)
{
    for (const Action& action : actions) {
        switch (action.kind) {
        case Action::Echo:
            break;
        case Action::SetPrinter: {
            std::string words;
            for (const std::string& word : action.settings) words += (words.empty() ? "" : " ") + word;
            if (options_.verbose) printf("operator: %s\n", words.c_str());
            std::string error = "no printer to set";
            if (!answerer_.setPrinter || !answerer_.setPrinter(action.settings, &error)) {
                *why = "cannot set the printer (" + words + ") " + session_.where() + ": " + error;
                return false;
            }
            break;
        }
        case Action::Write:
            // Shown as a terminal would echo it.
            if (answerer_.byHand) fwrite(action.text.data(), 1, action.text.size(), stdout);
            if (!writeInput(devbench_, action.text)) {
                *why = "devbench stopped reading its input " + session_.where();
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

// devbench's output ended: it left as asked with status 0, or the run broke
// off where it was, with the status it ended with.
std::string Dialogue::ended()
{
    int status = -1;
    if (!waitChild(devbench_, 5, &status)) stopChild(devbench_, 1);
    std::string why;
    if (!session_.finish(monotonicSeconds(), &why)) return why + " (status " + std::to_string(status) + ")";
    if (status != 0) return "devbench exited with status " + std::to_string(status);
    return "";
}

std::string Dialogue::silence() const
{
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%g", options_.timeout);
    const std::string& pending = session_.pendingOutput();
    return "devbench printed nothing for " + std::string(seconds) + " s " + session_.where()
        + (pending.empty() ? "" : "; it last printed '" + pending + "'");
}

// devbench.exe writes its newlines as CR LF; a CR on its own (a name
// character of Test Read) stays.
std::string Dialogue::withoutCarriageReturns(std::string_view chunk)
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

} // namespace

RunOutcome converse(const RunOptions& options, Session& session, const Answerer& answerer)
{
    RunOutcome outcome;
    if (answerer.byHand) session.setManual();
    session.onTestEnded(options.onTestEnded);
    ChildOptions childOptions;
    childOptions.directory = options.dir;
    childOptions.pipeInput = true;
    childOptions.pipeOutput = true;
    Child devbench;
    if (!startChild(options.devbench, { options.devbench }, childOptions, &devbench, &outcome.broken)) {
        outcome.setupFailed = true;
        outcome.records = session.records();
        return outcome;
    }
    Events events({ &devbench, answerer.byHand, options.stopFd, answerer.printerOutput });
    Dialogue dialogue(options, session, answerer, devbench);
    double started = monotonicSeconds();
    outcome.broken = dialogue.run(events, &outcome.interrupted);
    events.finish();
    stopChild(devbench, 2);
    double ended = monotonicSeconds();
    dialogue.flush();
    fflush(stdout);
    session.finish(ended, nullptr);
    outcome.records = session.records();
    outcome.strayFailures = session.strayFailures();
    outcome.strayFailuresDropped = session.strayFailuresDropped();
    outcome.seconds = ended - started;
    outcome.library = dialogue.library();
    return outcome;
}

} // namespace vpop
