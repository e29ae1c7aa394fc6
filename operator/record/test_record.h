// What one planned test did, as the session saw it and the record keeps it:
// the facts every judgement is derived from.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/record/suite.h"

namespace vpop {

// A job on the virtual printer's paper, as `vprinter get` lists it.
struct PaperJob {
    uint64_t number = 0;
    uint64_t size = 0;
    std::string sha256;
};

// What a test's record keeps of its output, so that a library printing
// without end bounds the operator's memory and the records: the console's
// first bytes, and the first failure lines (one is enough for the verdict).
// What is not kept is counted.
const size_t MAX_CONSOLE_BYTES = 1 << 20;
const size_t MAX_FAILURE_LINES = 100;

// Keeps `line` in `lines` while there is room; otherwise counts it.
void keepFailure(std::vector<std::string>& lines, uint64_t& dropped, std::string line);

// What devbench said the library answered at a failed check, on the line
// it writes to standard error after the failure line: the check's short name,
// the same from build to build, and the answer.
struct FailureAnswer {
    std::string check;
    std::string answer;
};

// Appends what fits of `text` within MAX_CONSOLE_BYTES; counts the rest.
void keepBounded(std::string& kept, uint64_t& dropped, std::string_view text);

// What one planned test did; its verdict is testVerdict's (verdict.h).
struct TestRecord {
    // The program the test is in, and its number in that program's menu.
    Suite suite = Suite::Devbench;
    unsigned number = 0;
    bool bannerSeen = false;
    // devbench came back after it, in order: the next test's banner or the
    // menu's question came.
    bool finished = false;
    std::vector<std::string> failures;
    uint64_t failuresDropped = 0;
    // The n-th answer belongs to the n-th failure line; as many are kept.
    std::vector<FailureAnswer> answers;
    uint64_t answersDropped = 0;
    // What the operator found itself that devbench cannot see, each starting
    // "operator: "; they fail the test as a failure line does.
    std::vector<std::string> findings;
    // The jobs the printer took during the test, when its paper was read.
    std::optional<std::vector<PaperJob>> paper;
    // The paper was compared with what the test sent.
    bool paperChecked = false;
    // What devbench printed from the banner to the end of the test, up to
    // MAX_CONSOLE_BYTES, and how much more.
    std::string console;
    uint64_t consoleDropped = 0;
    // What devbench wrote on standard error during the test, where a
    // library explains itself, apart from its output; its first bytes, and
    // how many more.
    std::string stderrText;
    uint64_t stderrBytesDropped = 0;
    double started = 0;
    double ended = 0;

    double seconds() const { return bannerSeen ? ended - started : 0; }
    void addConsole(std::string_view text);
    void addStderr(std::string_view text);
    void addAnswer(FailureAnswer answer);
};

// The test's failure lines as every report shows them: each followed by the
// answer devbench wrote for it (the n-th answer of a test belongs to its
// n-th failure line), then what was not kept.
std::vector<std::string> failureLinesWithAnswers(const TestRecord& record);
// "  answer(CHECK): ANSWER", as devbench wrote it.
std::string answerLine(const FailureAnswer& answer);

} // namespace vpop
