// The suites' fixed facts that every record is read by: their tests' names
// and banners, in the order of each program's own table, how long each may
// lawfully go quiet, and how a failure line starts.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vpop {

inline constexpr std::string_view failurePrefix = "failure: line(";

// The longest stretch a test may lawfully go without printing a line, in
// the suite's own limits: library calls, each within the open's time limit;
// timed chunked writes, each within the stall limit and a last call; and the
// test's own waits.
struct QuietStretch {
    unsigned calls;
    unsigned chunkedWrites;
    unsigned waitsMs;
};

struct SuiteTest {
    std::string_view name;
    // The first line the test prints; not unique (two tests share one).
    std::string_view banner;
    QuietStretch quiet;
};

inline constexpr unsigned suiteTestCount = 21;
const std::array<SuiteTest, suiteTestCount>& suiteTests();

// The two programs of procedures: devbench, the customer's sign-off, and
// devbench-extended, run after it at the same printer. Their tests are
// numbered each in its own menu; a test is named by both.
enum class Suite { Devbench, Extended };

inline constexpr unsigned extendedTestCount = 15;
const std::array<SuiteTest, extendedTestCount>& extendedTests();

// How many tests a suite has, and one of them by its number there.
unsigned testCount(Suite suite);
const SuiteTest& suiteTest(Suite suite, unsigned number);
// "devbench", "devbench-extended": the program, as records and tables name it.
std::string_view suiteName(Suite suite);
// The suite a record's word names; false for any other word.
bool suiteOfName(std::string_view name, Suite* suite);
// "12" for devbench, "x3" for devbench-extended's 3: a test's number where
// the two suites' tests stand in one list.
std::string testLabel(Suite suite, unsigned number);
// "x3 Idle Session": the label and the name, wherever a test is named.
std::string testTitle(Suite suite, unsigned number);

} // namespace vpop
