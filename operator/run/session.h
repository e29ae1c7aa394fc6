// The operator's side of one devbench dialogue, without any processes: fed
// devbench's output as it arrives, it says what to type, which printer state
// to set, and keeps the record of each test. The clock is passed in.
#pragma once

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/record/test_record.h"
#include "operator/run/prompts.h"

namespace vpop {

struct Action {
    enum Kind {
        // A complete line (or an answered question) devbench printed.
        Echo,
        // Set these printer control words before anything that follows.
        SetPrinter,
        // Type `text` into devbench.
        Write,
        // Give up: `text` says why. Nothing follows it.
        Stop,
        // devbench-extended asks the yes/no question `text` (without its
        // " (y/n) "): the answerer looks at the printer and types y or n.
        Ask,
    };
    Kind kind;
    std::string text;
    std::vector<std::string> settings;
};

// devbench keeps at most 255 characters of an answer, and a line ends it.
bool fitsAnswer(std::string_view text);

// A program's output as lines, whatever pieces it comes in. A line longer
// than MAX_LINE (far longer than any prompt, banner or failure line) comes
// in pieces of MAX_LINE bytes, so that a program printing without a newline
// cannot take the operator's memory. devbench.exe ends its lines with CR LF:
// with `crlf` a CR before a newline goes; a CR on its own (a byte of Test
// Read's reply) stays.
class LineSplitter {
public:
    static constexpr size_t MAX_LINE = 64 * 1024;

    explicit LineSplitter(bool crlf = false)
        : crlf_(crlf)
    {
    }
    // Calls `take(text, ended)` for each line (ended) or piece of one that
    // `chunk` completes, while it returns true.
    void feed(std::string_view chunk, const std::function<bool(std::string_view, bool)>& take);
    // The start of a line that has not ended yet.
    const std::string& pending() const { return partial_; }
    void clearPending() { partial_.clear(); }

private:
    bool add(char c, const std::function<bool(std::string_view, bool)>& take);

    std::string partial_;
    bool heldReturn_ = false;
    bool crlf_;
};

// devbench.exe's C library writes each newline as CR LF.
#if defined(_WIN32)
inline constexpr bool DEVBENCH_CRLF = true;
#else
inline constexpr bool DEVBENCH_CRLF = false;
#endif

// The failure line in a line that may come in pieces: its prefix may be cut
// in two, and its text runs on to the end of the line (up to MAX_LINE).
class FailureScan {
public:
    void take(std::string_view piece);
    // At the end of the line: its failure line, if it had one.
    std::optional<std::string> end();

private:
    // The end of the line so far, too short to hold the whole prefix.
    std::string tail_;
    std::optional<std::string> failure_;
};

class Session {
public:
    Session(
        std::string portName, std::string portSettings, std::vector<MenuChoice> plan, Suite suite = Suite::Devbench);

    // The answer to devbench-extended's question for another name of the
    // same port (empty skips its step).
    void setOtherPortName(std::string name) { otherPortName_ = std::move(name); }

    // Called when a test's banner comes.
    void onTestStarted(std::function<void(const TestRecord&)> callback) { onTestStarted_ = std::move(callback); }
    // Called the moment a test's output has ended in order, before anything
    // else is typed into devbench: the operator adds what it found itself.
    void onTestEnding(std::function<void(TestRecord&)> callback) { onTestEnding_ = std::move(callback); }
    // Called the moment a test's output has ended in order, once it is judged.
    void onTestEnded(std::function<void(const TestRecord&)> callback) { onTestEnded_ = std::move(callback); }
    // A technician at a real printer answers the prompts: the session then
    // neither sets a printer nor types Enter, and leaves unknown prompts to
    // the technician too. It still answers the questions.
    void setManual() { manual_ = true; }
    bool manual() const { return manual_; }
    // devbench printed a prompt and now waits for Enter (manual sessions).
    bool awaitingEnter() const { return awaitingEnter_; }
    // devbench-extended asked a question whose answer is a line of text,
    // not only Enter (manual sessions).
    bool awaitingLine() const { return awaitingLine_; }
    void enterGiven()
    {
        awaitingEnter_ = false;
        awaitingLine_ = false;
    }
    // A run by hand whose Test Open Port failed: before the other tests'
    // prompts, the technician is to say whether to go on (goOn), as a
    // mistyped port fails them all.
    bool askingToGoOn() const { return askingToGoOn_; }
    std::vector<Action> goOn(double now);
    const std::string& portName() const { return portName_; }
    // The running test's output may be over (the menu began, or a line
    // begins that may be the menu or a banner) but devbench has not come
    // back yet: what it prints now belongs after the test's row.
    bool testMayBeEnding() const;

    std::vector<Action> feed(std::string_view output, double now);
    // What devbench wrote on its standard error. Its own lines say which test
    // runs (the two pipes reach us in no fixed order) and which library it
    // loaded; the rest, the library's words, is kept by the test it came in.
    // Returns the library's words in whole lines, to be shown.
    std::string feedStderr(std::string_view text);
    // Standard error has ended: what is left of its last line, to be shown.
    std::string finishStderr();
    // The file devbench said its OpenPortA is in, and the address it was
    // loaded at as devbench printed it; empty when it did not say.
    const std::string& libraryPath() const { return libraryPath_; }
    const std::string& libraryBase() const { return libraryBase_; }

    // devbench's output has ended. Returns false when that came before the
    // operator asked it to leave; `why` then says where the run was.
    bool finish(double now, std::string* why);

    bool stopped() const { return stopped_; }
    // Every planned test, in plan order, run or not.
    const std::vector<TestRecord>& records() const { return records_; }
    // Failure lines printed while no test was running.
    const std::vector<std::string>& strayFailures() const { return strayFailures_; }
    uint64_t strayFailuresDropped() const { return strayDropped_; }
    // What devbench wrote on standard error outside every test (at start,
    // between tests, at the end), beside its own marks: its first MiB.
    const std::string& strayStderr() const { return strayStderr_; }
    uint64_t strayStderrDropped() const { return strayStderrDropped_; }
    // The start of a line devbench has not ended yet: shown when it goes quiet.
    const std::string& pendingOutput() const { return lines_.pending(); }
    // "in testRead (6)", "at the menu", ... for messages.
    std::string where() const;
    // The number of the test whose output is coming; none outside tests.
    std::optional<unsigned> runningTest() const;
    // The program whose tests the session runs.
    Suite suite() const { return suite_; }

private:
    enum class Stage { PortName, PortSettings, Menu, Leaving };

    void line(std::string_view text, bool ended, double now, std::vector<Action>& actions);
    void prompt(std::string_view text, std::vector<Action>& actions);
    void question(double now, std::vector<Action>& actions);
    bool extendedQuestion(std::vector<Action>& actions);
    void endCurrent(double now);
    bool running() const { return current_ < records_.size() && !closing_; }
    void stop(std::string why, std::vector<Action>& actions);
    void keepFailureLine(std::string failure);
    void stderrLine(std::string_view text, bool ended, std::string& shown);
    bool stderrMarker(std::string_view text);
    void keepStderr(std::string_view text);
    bool keepAnswer(std::string_view text);
    size_t stderrTest() const { return stderrMarked_ ? stderrCurrent_ : current_; }
    bool mustAskToGoOn() const { return manual_ && openFailed_ && !goOnGiven_; }

    std::string portName_;
    std::string portSettings_;
    Suite suite_;
    std::string otherPortName_;
    std::vector<MenuChoice> plan_;
    size_t choicesMade_ = 0;
    Stage stage_ = Stage::PortName;
    LineSplitter lines_;
    // The line being read came in pieces so far.
    bool continued_ = false;
    FailureScan scan_;
    std::vector<TestRecord> records_;
    // Indexes into records_: the test whose banner comes next, the end of
    // the menu choice being run, and the running test (records_.size() when
    // none).
    size_t nextBanner_ = 0;
    size_t choiceEnd_ = 0;
    size_t current_ = 0;
    // The running test's output is over: the menu began after it.
    bool closing_ = false;
    // devbench's output has ended.
    bool over_ = false;
    std::vector<std::string> strayFailures_;
    uint64_t strayDropped_ = 0;
    std::string strayStderr_;
    uint64_t strayStderrDropped_ = 0;
    bool stopped_ = false;
    LineSplitter stderrLines_;
    // Whether devbench marks its tests on standard error, and the record the
    // library's words go to now (records_.size() between tests); the next
    // marked test is looked for from stderrNext_ on, in plan order.
    bool stderrMarked_ = false;
    size_t stderrCurrent_ = 0;
    size_t stderrNext_ = 0;
    std::string libraryPath_;
    std::string libraryBase_;
    std::function<void(const TestRecord&)> onTestStarted_;
    std::function<void(TestRecord&)> onTestEnding_;
    std::function<void(const TestRecord&)> onTestEnded_;
    bool manual_ = false;
    bool awaitingEnter_ = false;
    bool awaitingLine_ = false;
    bool openFailed_ = false;
    bool askingToGoOn_ = false;
    bool goOnGiven_ = false;
};

} // namespace vpop
