// The suite's fixed facts that every record is read by: its tests' names and
// banners, in the order of devbench's own table, and how a failure line starts.
#pragma once

#include <array>
#include <string_view>

namespace vpop {

inline constexpr std::string_view failurePrefix = "failure: line(";

struct SuiteTest {
    std::string_view name;
    // The first line the test prints; not unique (two tests share one).
    std::string_view banner;
};

inline constexpr unsigned suiteTestCount = 21;
const std::array<SuiteTest, suiteTestCount>& suiteTests();

} // namespace vpop
