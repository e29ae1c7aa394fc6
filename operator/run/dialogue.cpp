#include "operator/run/dialogue.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "operator/platform/events.h"
#include "operator/platform/host.h"
#include "operator/platform/processes.h"
#include "operator/record/library_identity.h"

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
    // What is held back of devbench's output, shown once the run is over
    // (`end`), when it may follow the end of a test.
    void flush(bool end = false);
    // The library devbench loaded, read the moment it was, and checked again
    // now: a file replaced since is said so.
    std::optional<LibraryFile> library();

private:
    bool handle(const Event& event, std::string* why, bool* interrupted);
    bool typeEnter(std::string* why);
    bool askToGoOn(std::string* why);
    void output(std::string_view chunk, std::string* why);
    void stderrOutput(std::string_view chunk);
    void show(std::string_view piece, const std::vector<Action>& actions, bool waited);
    bool act(const std::vector<Action>& actions, std::string* why);
    bool answer(const std::string& question, std::string* why);
    std::string ended();
    std::string silence(double limit) const;
    void identifyLibrary();

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
    // What was shown of devbench's output ends mid-line.
    bool midLine_ = false;
    // devbench's standard error, shown a whole line at a time, never inside
    // a line of its output.
    std::string stderrHeld_;
    bool askedToGoOn_ = false;
    bool libraryAsked_ = false;
    bool libraryNamed_ = false;
    bool outputSeen_ = false;
    std::optional<LibraryFile> library_;
    FileIdentity libraryIdentity_;
};

std::string Dialogue::run(Events& events, bool* interrupted)
{
    lastOutput_ = monotonicSeconds();
    for (;;) {
        std::string why;
        bool technician = session_.askingToGoOn() || session_.awaitingEnter() || session_.awaitingLine();
        if (session_.askingToGoOn()) {
            if (askToGoOn(&why)) continue;
            if (!why.empty()) return why;
        } else if (session_.awaitingEnter() || session_.awaitingLine()) {
            if (typeEnter(&why)) continue;
            if (!why.empty()) return why;
        }
        // Waiting for the technician has no time limit; devbench at work has
        // what its test may lawfully take.
        double wait = -1;
        if (!technician) {
            double limit = silenceLimit(session_.runningTest(), options_.timeout, session_.suite());
            wait = limit - (monotonicSeconds() - lastOutput_);
            if (wait <= 0) return silence(limit);
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
        outputSeen_ = true;
        identifyLibrary();
        lastOutput_ = monotonicSeconds();
        output(event.data, why);
        return why->empty();
    case Event::OutputEnded:
        *why = ended();
        return false;
    case Event::Stderr:
        stderrOutput(event.data);
        identifyLibrary();
        return true;
    case Event::StderrEnded:
        return true;
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
    // A question's answer is the whole line; a prompt's, only its Enter.
    std::string line = session_.awaitingLine() ? keys_.substr(0, newline + 1) : "\n";
    keys_.erase(0, newline + 1);
    session_.enterGiven();
    lastOutput_ = monotonicSeconds();
    if (writeInput(devbench_, line)) return true;
    *why = "devbench stopped reading its input " + session_.where();
    return false;
}

// Test Open Port failed in a run by hand, most often for a mistyped port:
// the technician says whether the other tests' prompts are worth answering.
// True once told to go on; false while no answer came, or with `why` when
// told to stop.
bool Dialogue::askToGoOn(std::string* why)
{
    if (!askedToGoOn_) {
        flush();
        printf("%svpoperator: Test Open Port failed on port %s. Go on with the other tests? (y/n) ",
            midLine_ ? "\n" : "", session_.portName().c_str());
        fflush(stdout);
        midLine_ = true;
        askedToGoOn_ = true;
        if (keysFromTerminal()) keys_.clear();
    }
    size_t newline = keys_.find('\n');
    if (newline == std::string::npos) {
        if (keysEnded_) *why = "the technician's input ended while asked whether to go on " + session_.where();
        return false;
    }
    std::string answer = keys_.substr(0, newline);
    // A Windows console ends the line with CR LF.
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    keys_.erase(0, newline + 1);
    midLine_ = false;
    if (answer == "y" || answer == "yes") return act(session_.goOn(monotonicSeconds()), why);
    *why = "the technician chose not to go on after Test Open Port failed on port " + session_.portName();
    return false;
}

// devbench prints only once the loader has loaded its library: it is the
// mapped file that is read, at once, before anyone can replace it.
// devbench names the file it runs as the library, and where it is mapped:
// that mapping is the file whose code runs, whatever a link, a preloaded
// library or a mount made of the path. A devbench that does not say is
// read by the library's file name, from its first output on.
void Dialogue::identifyLibrary()
{
    if (libraryNamed_) return;
    if (!session_.libraryPath().empty()) {
        libraryNamed_ = true;
        const std::string& named = session_.libraryPath();
        const std::string& base = session_.libraryBase();
        std::optional<LoadedModule> module = moduleAt(devbench_, strtoull(base.c_str(), nullptr, 16));
        library_ = module ? vpop::identifyLibrary(named, module->path, module->identity, &libraryIdentity_)
                          : unidentifiedLibrary(named, "devbench's process shows no file mapped at " + base);
        return;
    }
    if (libraryAsked_ || !outputSeen_) return;
    libraryAsked_ = true;
    std::optional<LoadedModule> module = loadedModule(devbench_, libraryFileName);
    if (module) library_ = inspectLibrary(module->path, &module->identity, &libraryIdentity_);
}

std::optional<LibraryFile> Dialogue::library()
{
    if (library_ && library_->read) recheckLibrary(*library_, libraryIdentity_);
    return library_;
}

// Line by line, so that a test's row comes out right where its output ends,
// before the menu or the next banner.
void Dialogue::output(std::string_view chunk, std::string* why)
{
    for (size_t start = 0; start < chunk.size() && why->empty();) {
        size_t newline = chunk.find('\n', start);
        size_t end = newline == std::string::npos ? chunk.size() : newline + 1;
        std::string_view piece = chunk.substr(start, end - start);
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
        // devbench.exe's CR LF through our own text-mode output would be CR CR LF.
        bool crlf = piece.size() >= 2 && piece.substr(piece.size() - 2) == "\r\n";
        held_.append(crlf ? piece.substr(0, piece.size() - 2) : piece).append(crlf ? "\n" : "");
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

// The record keeps standard error by the test it came in; the terminal shows
// it too, as devbench's own would have been.
void Dialogue::stderrOutput(std::string_view chunk)
{
    stderrHeld_ += session_.feedStderr(chunk);
    // Held while devbench's output is shown mid-line, but never without bound.
    if (!midLine_ || stderrHeld_.size() >= LineSplitter::MAX_LINE) flush();
}

void Dialogue::flush(bool end)
{
    if (end) stderrHeld_ += session_.finishStderr();
    fwrite(held_.data(), 1, held_.size(), stdout);
    if (!held_.empty()) midLine_ = held_.back() != '\n';
    held_.clear();
    if (midLine_ && stderrHeld_.size() < LineSplitter::MAX_LINE) return;
    fflush(stdout);
    if (options_.echoStderr) fwrite(stderrHeld_.data(), 1, stderrHeld_.size(), stderr);
    stderrHeld_.clear();
}

bool Dialogue::act(const std::vector<Action>& actions, std::string* why)
{
    for (const Action& action : actions) {
        switch (action.kind) {
        case Action::Echo:
            break;
        case Action::SetPrinter: {
            // A person takes a moment to get to the printer.
            if (options_.paceMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options_.paceMs));
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
        case Action::Ask:
            if (!answer(action.text, why)) return false;
            break;
        }
    }
    return true;
}

// The printer is looked at the moment the question comes, as a person
// would; the answer is typed after a person's pause.
bool Dialogue::answer(const std::string& question, std::string* why)
{
    const QuestionRule* rule = findQuestion(question + EXT_YES_NO_END);
    bool yes = false;
    std::string error = "no printer to look at";
    if (rule == nullptr || !answerer_.answerQuestion || !answerer_.answerQuestion(rule->fact, &yes, &error)) {
        *why = "cannot answer '" + question + "' " + session_.where() + ": " + error;
        return false;
    }
    if (options_.verbose) printf("operator: %s %s\n", question.c_str(), yes ? "yes" : "no");
    if (options_.paceMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options_.paceMs));
    if (writeInput(devbench_, yes ? "y\n" : "n\n")) return true;
    *why = "devbench stopped reading its input " + session_.where();
    return false;
}

// devbench's output ended: it left as asked with status 0, or the run broke
// off where it was, with the status it ended with.
std::string Dialogue::ended()
{
    int status = -1;
    // One that closed its output and lives on is ended with the run (-1).
    waitChild(devbench_, 5, &status);
    std::string why;
    if (!session_.finish(monotonicSeconds(), &why)) return why + " (status " + std::to_string(status) + ")";
    if (status != 0) return "devbench exited with status " + std::to_string(status);
    return "";
}

std::string Dialogue::silence(double limit) const
{
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%g", limit);
    const std::string& pending = session_.pendingOutput();
    return "devbench printed nothing for " + std::string(seconds) + " s " + session_.where()
        + (pending.empty() ? "" : "; it last printed '" + pending + "'");
}

// Every planned test of a suite that never started, on record all the same.
std::vector<TestRecord> notRun(Suite suite, const std::vector<MenuChoice>& plan)
{
    std::vector<TestRecord> records;
    for (const MenuChoice& choice : plan) {
        for (unsigned number : choice.tests) {
            records.emplace_back();
            records.back().suite = suite;
            records.back().number = number;
        }
    }
    return records;
}

} // namespace

RunOutcome converseBoth(const RunOptions& options, const std::vector<MenuChoice>& plan,
    const std::vector<MenuChoice>& extendedPlan, const Answerer& answerer,
    const std::function<Session(Suite, const std::vector<MenuChoice>&)>& makeSession)
{
    RunOutcome outcome;
    if (!plan.empty()) {
        Session session = makeSession(Suite::Devbench, plan);
        outcome = converse(options, session, answerer);
    }
    if (extendedPlan.empty()) return outcome;
    if (!outcome.broken.empty() || outcome.setupFailed) {
        std::vector<TestRecord> skipped = notRun(Suite::Extended, extendedPlan);
        outcome.records.insert(outcome.records.end(), skipped.begin(), skipped.end());
        return outcome;
    }
    RunOptions extended = options;
    extended.devbench = options.devbenchExtended;
    Session session = makeSession(Suite::Extended, extendedPlan);
    RunOutcome more = converse(extended, session, answerer);
    if (plan.empty()) return more;
    outcome.records.insert(outcome.records.end(), more.records.begin(), more.records.end());
    outcome.strayFailures.insert(outcome.strayFailures.end(), more.strayFailures.begin(), more.strayFailures.end());
    outcome.strayFailuresDropped += more.strayFailuresDropped;
    outcome.seconds += more.seconds;
    outcome.broken = more.broken;
    outcome.setupFailed = more.setupFailed;
    outcome.interrupted = more.interrupted;
    if (!outcome.library) outcome.library = more.library;
    return outcome;
}

RunOutcome converse(const RunOptions& options, Session& session, const Answerer& answerer)
{
    RunOutcome outcome;
    if (answerer.byHand) session.setManual();
    session.onTestEnded(options.onTestEnded);
    ChildOptions childOptions;
    childOptions.directory = options.dir;
    childOptions.pipeInput = true;
    childOptions.pipeOutput = true;
    childOptions.pipeError = true;
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
    dialogue.flush(true);
    fflush(stdout);
    session.finish(ended, nullptr);
    outcome.records = session.records();
    outcome.strayFailures = session.strayFailures();
    outcome.strayFailuresDropped = session.strayFailuresDropped();
    outcome.strayStderr = session.strayStderr();
    outcome.strayStderrDropped = session.strayStderrDropped();
    outcome.seconds = ended - started;
    outcome.library = dialogue.library();
    return outcome;
}

} // namespace vpop
