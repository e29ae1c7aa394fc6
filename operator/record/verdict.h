// The verdicts: of each test, and the one of the run that the exit status,
// the table's summary, the JSON record and the JUnit report all show.
#pragma once

#include <string>
#include <string_view>

#include "operator/record/records.h"
#include "operator/run/session.h"

namespace vpop {

enum class Verdict { Pass, Fail, BrokeOff, NotRun };

// "pass", "fail", "broke off", "not run".
std::string_view verdictWord(Verdict verdict);
// The verdict a record's word names; false for a word that names none.
bool verdictOfWord(std::string_view word, Verdict* verdict);

// A test passes only when its banner came, devbench came back after it in
// order and nothing failed it.
Verdict testVerdict(const TestRecord& record);

// A test as its run judged it. In a fault matrix a test that is to print
// its fault's failure line passes when it did and fails when it did not;
// every other test is testVerdict's.
Verdict judgedVerdict(const RecordedTest& test);

// How many of the suite's tests ran (started) at least once. A run of fewer
// than all is partial whatever its verdict: a pass of 7 tests says nothing
// of the other 14. A matrix runs the tests its faults need, and is never.
struct Coverage {
    unsigned ran = 0;
    unsigned suite = 0;
    bool partial = false;
};
Coverage coverage(const RunRecord& record);

struct RunVerdict {
    // Pass, Fail or BrokeOff.
    Verdict verdict = Verdict::Fail;
    // Why it is not a pass; empty for one.
    std::string why;
};

RunVerdict runVerdict(const RunRecord& record);

// A healthy variation of the matrix in words: "passed", "known false
// failure" (it failed only where and as its mark says) or "false failure"
// (any other failure, or a marked test that passes now).
std::string_view variationOutcome(const VariationResult& variation);

// 0 for a run that passed, 1 for any other.
int exitStatus(const RunVerdict& verdict);

} // namespace vpop
