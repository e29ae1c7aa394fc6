#include "operator/run/session.h"

#include <algorithm>
#include <utility>

namespace vpop {

namespace {

const size_t MAX_ANSWER = 255;
// Far longer than any prompt, banner or failure line; a longer line is taken
// in pieces so that it cannot take the operator's memory.
const size_t MAX_LINE = 64 * 1024;

} // namespace

void keepFailure(std::vector<std::string>& lines, uint64_t& dropped, std::string line)
{
    if (lines.size() < MAX_FAILURE_LINES) {
        lines.push_back(std::move(line));
    } else {
        ++dropped;
    }
}

void TestRecord::addConsole(std::string_view text)
{
    size_t room = MAX_CONSOLE_BYTES - std::min(console.size(), MAX_CONSOLE_BYTES);
    console.append(text.substr(0, room));
    consoleDropped += text.size() - std::min(text.size(), room);
}

bool fitsAnswer(std::string_view text)
{
    return text.size() <= MAX_ANSWER && text.find_first_of("\t\n") == std::string_view::npos;
}

Session::Session(std::string portName, std::string portSettings, std::vector<MenuChoice> plan)
    : portName_(std::move(portName))
    , portSettings_(std::move(portSettings))
    , plan_(std::move(plan))
{
    // Every planned test is on record from the start, so one that never
    // starts is listed too.
    for (const MenuChoice& choice : plan_) {
        for (unsigned number : choice.tests) {
            TestRecord record;
            record.number = number;
            records_.push_back(record);
        }
    }
    current_ = records_.size();
}

std::vector<Action> Session::feed(std::string_view output, double now)
{
    std::vector<Action> actions;
    for (char c : output) {
        if (stopped_) break;
        if (c == '\n' || partial_.size() >= MAX_LINE) {
            std::string text;
            text.swap(partial_);
            line(text, c == '\n', now, actions);
        }
        if (c != '\n') partial_ += c;
    }
    // The questions end without a newline and devbench then waits: only what
    // is pending after all output read so far can be one.
    if (!stopped_) question(now, actions);
    return actions;
}

void Session::line(std::string_view text, bool ended, double now, std::vector<Action>& actions)
{
    std::string_view newline = ended ? "\n" : "";
    actions.push_back({ Action::Echo, std::string(text), {} });
    awaitingEnter_ = false;
    const auto& tests = suiteTests();
    // Two tests share a banner, so a banner only counts as the one the run
    // order expects next.
    if (nextBanner_ < choiceEnd_ && text == tests[records_[nextBanner_].number].banner) {
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
    if (text == menuHeading && current_ < records_.size()) closing_ = true;
    if (running()) {
        records_[current_].addConsole(text);
        records_[current_].addConsole(newline);
    }
    // Test Read prints its failure on the line it is on: after "device
    // firmware name: " or after name characters.
    if (size_t at = text.find(failurePrefix); at != std::string_view::npos) {
        std::string failure(text.substr(at));
        if (running()) {
            keepFailure(records_[current_].failures, records_[current_].failuresDropped, std::move(failure));
        } else {
            keepFailure(strayFailures_, strayDropped_, std::move(failure));
        }
        return;
    }
    // A piece of an overlong line is no prompt, whatever it ends with.
    if (!ended) return;
    if (const PromptRule* rule = findPrompt(text)) {
        if (manual_) {
            awaitingEnter_ = rule->answerWithEnter;
            return;
        }
        if (!running()) return stop("prompt outside any test: '" + std::string(text) + "'", actions);
        Action set { Action::SetPrinter, {}, {} };
        for (std::string_view word : rule->settings) set.settings.emplace_back(word);
        actions.push_back(set);
        if (rule->answerWithEnter) actions.push_back({ Action::Write, "\n", {} });
        return;
    }
    if (looksLikePrompt(text)) {
        if (manual_) {
            awaitingEnter_ = true;
            return;
        }
        stop("devbench asks for something the operator does not know " + where() + ": '" + std::string(text)
                + "'; not guessing",
            actions);
    }
}

void Session::question(double now, std::vector<Action>& actions)
{
    auto answer = [&](std::string text) {
        actions.push_back({ Action::Echo, partial_ + text, {} });
        partial_.clear();
        actions.push_back({ Action::Write, std::move(text) + "\n", {} });
    };
    if (partial_ == portNameQuestion) {
        if (stage_ != Stage::PortName) return stop("devbench asked for the port name again", actions);
        stage_ = Stage::PortSettings;
        return answer(portName_);
    }
    if (partial_ == portSettingsQuestion) {
        if (stage_ != Stage::PortSettings) return stop("devbench asked for the port settings out of turn", actions);
        stage_ = Stage::Menu;
        return answer(portSettings_);
    }
    if (partial_ != menuQuestion) return;
    if (stage_ != Stage::Menu) return stop("devbench showed the menu out of turn", actions);
    endCurrent(now);
    if (choicesMade_ == plan_.size()) {
        stage_ = Stage::Leaving;
        return answer("e");
    }
    // Tests of the last choice whose banner never came stay not run.
    nextBanner_ = choiceEnd_;
    choiceEnd_ += plan_[choicesMade_].tests.size();
    answer(plan_[choicesMade_++].answer);
}

void Session::endCurrent(double now)
{
    if (current_ >= records_.size()) return;
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
    if (partial_.empty()) return false;
    auto starts = [&](std::string_view line) { return line.substr(0, partial_.size()) == partial_; };
    if (starts(menuHeading)) return true;
    for (const SuiteTest& test : suiteTests()) {
        if (starts(test.banner)) return true;
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
    bool left = stage_ == Stage::Leaving && partial_.empty();
    if (current_ < records_.size() && !over_) {
        records_[current_].ended = now;
        // The last words of a test that broke off are its most telling ones.
        if (running()) records_[current_].addConsole(partial_);
        partial_.clear();
    }
    over_ = true;
    if (left) return true;
    if (why) *why = "devbench ended " + where();
    return false;
}

std::string Session::where() const
{
    if (current_ < records_.size()) {
        unsigned number = records_[current_].number;
        return "in " + std::string(suiteTests()[number].banner) + " (" + std::to_string(number) + ")";
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
