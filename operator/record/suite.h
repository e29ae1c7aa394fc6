// The suite's fixed facts that every record is read by: its tests' names and
// banners, in the order of devbench's own table, how long each may lawfully
// go quiet, and how a failure line starts.
#pragma once

#include <array>
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

} // namespace vpop
