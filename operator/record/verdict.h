// The verdicts: of each test, and the one of the run that the exit status,
// the table's summary, the JSON record and the JUnit report all show.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "operator/record/records.h"
#include "operator/record/suite.h"

namespace vpop {

enum class Verdict { Pass, Fail, BrokeOff, NotRun };

// "pass", "fail", "broke off", "not run".
std::string_view verdictWord(Verdict verdict);
// The verdict a record's word names; false for a word that names none.
bool verdictOfWord(std::string_view word, Verdict* verdict);

// A test passes only when its banner came, devbench came back after it in
// order and nothing failed it: no failure line, kept or only counted, no
// finding of the operator, no job on its paper that is not what it sent.
Verdict testVerdict(const TestRecord& record);

// The test printed `expected` (a failure line's text after "failure:
// line(N) ", or the headline of an operator's finding).
bool showsExpected(std::string_view expected, const TestRecord& record);

// Whether a profile of a fault matrix did what it is there for: every test
// it ran passed as the matrix judges it, and the test that is to fail under
// it (none for a healthy variation, which must pass every test) ran and
// printed its expected failure.
bool expectationMet(const RunRecord& record, std::string_view profile, std::optional<unsigned> failingTest,
    Suite failingSuite = Suite::Devbench);

// Every judgement a record states that its facts decide: each matrix test's
// `expectedSeen`, each fault's `caught` and each control's `passed`. The operator writes with it; the
// reader derives them again and refuses a record that states others.
void deriveJudgements(RunRecord& record);

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

// The tests by their own verdicts: `failed` counts those that broke off too.
struct RecordCounts {
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned notRun = 0;
};
RecordCounts recordCounts(const RunRecord& record);

struct RunVerdict {
    // Pass, Fail or BrokeOff.
    Verdict verdict = Verdict::Fail;
    // Why it is not a pass; empty for one.
    std::string why;
};

RunVerdict runVerdict(const RunRecord& record);

// A control of the matrix in words: "passed", or "false failure" (a test
// under it did not pass, or none ran).
std::string_view variationOutcome(const VariationResult& variation);

// 0 for a run that passed, 1 for any other.
int exitStatus(const RunVerdict& verdict);

} // namespace vpop
