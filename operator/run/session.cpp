#include "operator/run/session.h"

#include <algorithm>
#include <utility>

#include "runner/stderr_lines.h"

namespace vpop {

namespace {

const size_t MAX_ANSWER = 255;

// The two halves of one of devbench's printf formats around its one
// conversion (and without the newline), so the lines are read by the very
// texts that write them.
struct FormatParts {
    std::string_view before;
    std::string_view after;
};

FormatParts formatParts(std::string_view format, std::string_view conversion)
{
    size_t at = format.find(conversion);
    std::string_view after = format.substr(at + conversion.size());
    if (!after.empty() && after.back() == '\n') after.remove_suffix(1);
    return { format.substr(0, at), after };
}

// The test number of a marker that ends `text`, where the library's words
// without a newline may come before it.
std::optional<unsigned> markerNumber(std::string_view text, std::string_view format, size_t* start)
{
    FormatParts parts = formatParts(format, "%u");
    if (text.size() < parts.after.size() || text.substr(text.size() - parts.after.size()) != parts.after)
        return std::nullopt;
    std::string_view head = text.substr(0, text.size() - parts.after.size());
    size_t at = head.rfind(parts.before);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view digits = head.substr(at + parts.before.size());
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    *start = at;
    return static_cast<unsigned>(std::stoul(std::string(digits)));
}
const unsigned testOpenPortNumber = 0;

} // namespace

void LineSplitter::feed(std::string_view chunk, const std::function<bool(std::string_view, bool)>& take)
{
    for (char c : chunk) {
        if (heldReturn_) {
            heldReturn_ = false;
            if (c != '\n' && !add('\r', take)) return;
        }
        if (crlf_ && c == '\r') {
            heldReturn_ = true;
        } else if (!add(c, take)) {
            return;
        }
    }
}

bool LineSplitter::add(char c, const std::function<bool(std::string_view, bool)>& take)
{
    if (c == '\n' || partial_.size() >= MAX_LINE) {
        std::string text;
        text.swap(partial_);
        if (!take(text, c == '\n')) return false;
    }
    if (c != '\n') partial_ += c;
    return true;
}

void FailureScan::take(std::string_view piece)
{
    if (failure_) {
        failure_->append(piece.substr(0, LineSplitter::MAX_LINE - std::min(failure_->size(), LineSplitter::MAX_LINE)));
        return;
    }
    std::string text = tail_ + std::string(piece);
    if (size_t at = text.find(failurePrefix); at != std::string::npos) {
        failure_ = text.substr(at, LineSplitter::MAX_LINE);
        tail_.clear();
        return;
    }
    tail_ = text.substr(text.size() - std::min(text.size(), failurePrefix.size() - 1));
}

std::optional<std::string> FailureScan::end()
{
    std::optional<std::string> failure;
    failure.swap(failure_);
    tail_.clear();
    return failure;
}

bool fitsAnswer(std::string_view text)
{
    return text.size() <= MAX_ANSWER && text.find_first_of("\t\n") == std::string_view::npos;
}

Session::Session(std::string portName, std::string portSettings, std::vector<MenuChoice> plan, Suite suite)
    : portName_(std::move(portName))
    , portSettings_(std::move(portSettings))
    , suite_(suite)
    , plan_(std::move(plan))
    , lines_(DEVBENCH_CRLF)
    , stderrLines_(DEVBENCH_CRLF)
{
    // Every planned test is on record from the start, so one that never
    // starts is listed too.
    for (const MenuChoice& choice : plan_) {
        for (unsigned number : choice.tests) {
            TestRecord record;
            record.suite = suite_;
            record.number = number;
            records_.push_back(record);
        }
    }
    current_ = records_.size();
    stderrCurrent_ = records_.size();
}

std::vector<Action> Session::feed(std::string_view output, double now)
{
    std::vector<Action> actions;
    if (stopped_) return actions;
    lines_.feed(output, [&](std::string_view text, bool ended) {
        line(text, ended, now, actions);
        return !stopped_;
    });
    // The questions end without a newline and devbench then waits: only what
    // is pending after all output read so far can be one.
    question(now, actions);
    return actions;
}

std::string Session::feedStderr(std::string_view text)
{
    std::string shown;
    stderrLines_.feed(text, [&](std::string_view piece, bool ended) {
        stderrLine(piece, ended, shown);
        return true;
    });
    return shown;
}

std::string Session::finishStderr()
{
    std::string shown;
    if (!stderrLines_.pending().empty()) {
        std::string rest = stderrLines_.pending();
        stderrLines_.clearPending();
        stderrLine(rest, true, shown);
    }
    return shown;
}

void Session::stderrLine(std::string_view text, bool ended, std::string& shown)
{
    if (ended && stderrMarker(text)) return;
    if (ended && keepAnswer(text)) {
        shown.append(text).append("\n");
        return;
    }
    std::string words = std::string(text) + (ended ? "\n" : "");
    keepStderr(words);
    shown += words;
}

// devbench's own lines: the library it loaded, and its test markers, which
// may end a line the library left open.
bool Session::stderrMarker(std::string_view text)
{
    FormatParts library = formatParts(STDERR_LIBRARY_LINE, "%s");
    FormatParts base = formatParts(library.after, "%p");
    if (text.substr(0, library.before.size()) == library.before && text.size() > library.before.size()
        && text.back() == ')') {
        size_t at = text.rfind(base.before);
        if (at != std::string_view::npos && at >= library.before.size()) {
            libraryPath_ = text.substr(library.before.size(), at - library.before.size());
            libraryBase_ = text.substr(at + base.before.size(), text.size() - 1 - at - base.before.size());
            return true;
        }
    }
    if (text == formatParts(STDERR_LIBRARY_UNKNOWN, "\n").before) return true;
    size_t start = 0;
    std::optional<unsigned> begins = markerNumber(text, STDERR_TEST_BEGINS, &start);
    std::optional<unsigned> ended = begins ? begins : markerNumber(text, STDERR_TEST_ENDED, &start);
    if (!ended) return false;
    stderrMarked_ = true;
    if (start > 0) keepStderr(std::string(text.substr(0, start)) + "\n");
    stderrCurrent_ = records_.size();
    if (!begins) return true;
    for (size_t i = stderrNext_; i < records_.size(); ++i) {
        if (records_[i].number != *begins) continue;
        stderrCurrent_ = i;
        stderrNext_ = i + 1;
        break;
    }
    return true;
}

// By devbench's markers when it gives them; else by the test whose output
// is being read, as close as the two pipes allow.
void Session::keepStderr(std::string_view text)
{
    size_t test = stderrTest();
    if (test < records_.size()) {
        records_[test].addStderr(text);
    } else {
        keepBounded(strayStderr_, strayStderrDropped_, text);
    }
}

// devbench's answer to a failure line, kept beside it; one outside a test
// stays with the words outside the tests.
bool Session::keepAnswer(std::string_view text)
{
    std::string_view prefix = STDERR_ANSWER_PREFIX;
    size_t close = text.find("): ", prefix.size());
    if (text.substr(0, prefix.size()) != prefix || close == std::string_view::npos || stderrTest() >= records_.size())
        return false;
    records_[stderrTest()].addAnswer(
        { std::string(text.substr(prefix.size(), close - prefix.size())), std::string(text.substr(close + 3)) });
    return true;
}

std::vector<Action> Session::goOn(double now)
{
    askingToGoOn_ = false;
    goOnGiven_ = true;
    return feed("", now);
}

void Session::keepFailureLine(std::string failure)
{
    if (running()) {
        keepFailure(records_[current_].failures, records_[current_].failuresDropped, std::move(failure));
    } else {
        keepFailure(strayFailures_, strayDropped_, std::move(failure));
    }
}

void Session::line(std::string_view text, bool ended, double now, std::vector<Action>& actions)
{
    // The rest of an overlong line is no banner, menu or prompt, whatever it
    // ends with.
    bool whole = !continued_;
    continued_ = !ended;
    std::string_view newline = ended ? "\n" : "";
    actions.push_back({ Action::Echo, std::string(text), {} });
    awaitingEnter_ = false;
    awaitingLine_ = false;
    // Two tests share a banner, so a banner only counts as the one the run
    // order expects next.
    if (whole && nextBanner_ < choiceEnd_ && text == suiteTest(suite_, records_[nextBanner_].number).banner) {
        endCurrent(now);
        current_ = nextBanner_++;
        records_[current_].bannerSeen = true;
        records_[current_].started = now;
        records_[current_].addConsole(text);
        records_[current_].addConsole(newline);
        if (onTestStarted_) onTestStarted_(records_[current_]);
        return;
    }
    // The test's output is over, but it ends only once devbench is back at
    // the menu's question: a devbench that dies in between broke off in it.
    if (whole && text == menuHeading && current_ < records_.size()) closing_ = true;
    if (running()) {
        records_[current_].addConsole(text);
        records_[current_].addConsole(newline);
    }
    // Test Read prints its failure on the line it is on: after "device
    // firmware name: " or after name characters.
    scan_.take(text);
    if (!ended) return;
    if (std::optional<std::string> failure = scan_.end()) return keepFailureLine(std::move(*failure));
    if (whole) prompt(text, actions);
}

void Session::prompt(std::string_view text, std::vector<Action>& actions)
{
    const PromptRule* rule = findPrompt(text);
    if (rule == nullptr && !looksLikePrompt(text)) return;
    if (manual_) {
        awaitingEnter_ = rule == nullptr || rule->answerWithEnter;
        askingToGoOn_ = mustAskToGoOn();
        return;
    }
    if (rule == nullptr) {
        return stop("devbench asks for something the operator does not know " + where() + ": '" + std::string(text)
                + "'; not guessing",
            actions);
    }
    if (!running()) return stop("prompt outside any test: '" + std::string(text) + "'", actions);
    Action set { Action::SetPrinter, {}, {} };
    for (std::string_view word : rule->settings) set.settings.emplace_back(word);
    actions.push_back(set);
    if (rule->answerWithEnter) actions.push_back({ Action::Write, "\n", {} });
}

void Session::question(double now, std::vector<Action>& actions)
{
    const std::string& partial = lines_.pending();
    auto answer = [&](std::string text) {
        actions.push_back({ Action::Echo, partial + text, {} });
        lines_.clearPending();
        actions.push_back({ Action::Write, std::move(text) + "\n", {} });
    };
    if (partial == portNameQuestion) {
        if (stage_ != Stage::PortName) return stop("devbench asked for the port name again", actions);
        stage_ = Stage::PortSettings;
        return answer(portName_);
    }
    if (partial == portSettingsQuestion) {
        if (stage_ != Stage::PortSettings) return stop("devbench asked for the port settings out of turn", actions);
        stage_ = Stage::Menu;
        return answer(portSettings_);
    }
    if (extendedQuestion(actions)) return;
    if (partial != menuQuestion) return;
    if (stage_ != Stage::Menu) return stop("devbench showed the menu out of turn", actions);
    endCurrent(now);
    if (choicesMade_ == plan_.size()) {
        stage_ = Stage::Leaving;
        return answer("e");
    }
    if (mustAskToGoOn()) {
        askingToGoOn_ = true;
        return;
    }
    // Tests of the last choice whose banner never came stay not run.
    nextBanner_ = choiceEnd_;
    choiceEnd_ += plan_[choicesMade_].tests.size();
    answer(plan_[choicesMade_++].answer);
}

// devbench-extended's questions within a test: another name of the port,
// answered with the one the run was given, and yes/no questions, answered
// by whoever looks at the printer. A technician types both.
bool Session::extendedQuestion(std::vector<Action>& actions)
{
    const std::string& partial = lines_.pending();
    bool named = partial == otherNameQuestion;
    const QuestionRule* rule = named ? nullptr : findQuestion(partial);
    if (!named && rule == nullptr) return false;
    actions.push_back({ Action::Echo, partial, {} });
    lines_.clearPending();
    if (!running()) {
        stop("a question outside any test: '" + partial + "'", actions);
        return true;
    }
    if (manual_) {
        awaitingLine_ = true;
        return true;
    }
    if (named) {
        actions.push_back({ Action::Write, otherPortName_ + "\n", {} });
    } else {
        actions.push_back({ Action::Ask, std::string(rule->text), {} });
    }
    return true;
}

void Session::endCurrent(double now)
{
    if (current_ >= records_.size()) return;
    // The tests after a failed Test Open Port would fail for its reason too.
    const TestRecord& record = records_[current_];
    if (record.number == testOpenPortNumber && !record.failures.empty()) openFailed_ = true;
    records_[current_].finished = true;
    records_[current_].ended = now;
    if (onTestEnding_) onTestEnding_(records_[current_]);
    if (onTestEnded_) onTestEnded_(records_[current_]);
    current_ = records_.size();
    closing_ = false;
}

bool Session::testMayBeEnding() const
{
    if (current_ >= records_.size()) return false;
    if (closing_) return true;
    const std::string& partial = lines_.pending();
    if (partial.empty()) return false;
    auto starts = [&](std::string_view line) { return line.substr(0, partial.size()) == partial; };
    if (starts(menuHeading)) return true;
    for (unsigned number = 0; number < testCount(suite_); ++number) {
        if (starts(suiteTest(suite_, number).banner)) return true;
    }
    return false;
}

void Session::stop(std::string why, std::vector<Action>& actions)
{
    stopped_ = true;
    actions.push_back({ Action::Stop, std::move(why), {} });
}

bool Session::finish(double now, std::string* why)
{
    bool left = stage_ == Stage::Leaving && lines_.pending().empty();
    if (current_ < records_.size() && !over_) {
        records_[current_].ended = now;
        // The last words of a test that broke off are its most telling ones,
        // a failure line cut short by its end among them.
        if (running()) {
            records_[current_].addConsole(lines_.pending());
            scan_.take(lines_.pending());
            if (std::optional<std::string> failure = scan_.end()) keepFailureLine(std::move(*failure));
        }
    }
    over_ = true;
    if (left) return true;
    if (why) *why = "devbench ended " + where();
    return false;
}

std::optional<unsigned> Session::runningTest() const
{
    if (!running()) return std::nullopt;
    return records_[current_].number;
}

std::string Session::where() const
{
    if (current_ < records_.size()) {
        unsigned number = records_[current_].number;
        return "in " + std::string(suiteTest(suite_, number).banner) + " (" + testLabel(suite_, number) + ")";
    }
    switch (stage_) {
    case Stage::PortName:
        return "before asking for the port name";
    case Stage::PortSettings:
        return "after the port name was typed";
    case Stage::Menu:
        return "between tests";
    case Stage::Leaving:
        return "after being asked to leave";
    }
    return "";
}

} // namespace vpop
