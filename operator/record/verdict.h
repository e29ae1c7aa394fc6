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

struct RunVerdict {
    // Pass, Fail or BrokeOff.
    Verdict verdict = Verdict::Fail;
    // Why it is not a pass; empty for one.
    std::string why;
};

RunVerdict runVerdict(const RunRecord& record);

// 0 for a run that passed, 1 for any other.
int exitStatus(const RunVerdict& verdict);

} // namespace vpop
