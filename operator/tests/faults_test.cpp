#include <gtest/gtest.h>

#include <ctype.h>

#include <algorithm>

#include "operator/record/paper_check.h"
#include "operator/run/faults.h"
#include "operator/tests/source_text.h"

namespace {

using namespace vpop;

const FaultCase fault { "online-flag-2", "fault=online-flag-2", {}, { 10, 8 }, 10, "onlineStatus != VX_TRUE" };

TestRecord record(unsigned number, std::vector<std::string> failures = {})
{
    TestRecord r;
    r.number = number;
    r.bannerSeen = true;
    r.finished = true;
    r.failures = std::move(failures);
    return r;
}

TEST(FaultMatrix, CaughtOnlyByTheExpectedLineOfTheExpectedTest)
{
    RunOutcome outcome;
    outcome.records = { record(10, { "failure: line(57) onlineStatus != VX_TRUE" }), record(8) };
    EXPECT_TRUE(judge(fault, outcome).met);

    // The same test failing for another reason proves nothing about the fault.
    outcome.records[0].failures = { "failure: line(50) GetOnlineStatus returned VX_FALSE" };
    Judgement other = judge(fault, outcome);
    EXPECT_FALSE(other.met);
    EXPECT_NE(other.note.find("GetOnlineStatus returned VX_FALSE"), std::string::npos);

    outcome.records[0].failures.clear();
    EXPECT_FALSE(judge(fault, outcome).met);
}

// A fault that also breaks an unrelated test is caught for the wrong reason,
// or shows a suite that fails on what it should take in its stride.
TEST(FaultMatrix, ANeighbourChangingVerdictSpoilsTheCatch)
{
    RunOutcome outcome;
    outcome.records = { record(10, { "failure: line(57) onlineStatus != VX_TRUE" }),
        record(8, { "failure: line(20) ResetDevice returned VX_FALSE" }) };
    Judgement judgement = judge(fault, outcome);
    EXPECT_FALSE(judgement.met);
    EXPECT_NE(judgement.note.find("8 fail"), std::string::npos);
}

TEST(FaultMatrix, ARunThatBrokeOffCatchesNothing)
{
    RunOutcome outcome;
    outcome.records = { record(10, { "failure: line(57) onlineStatus != VX_TRUE" }), record(8) };
    outcome.broken = "devbench printed nothing for 30 s in testResetDevice (8)";
    Judgement judgement = judge(fault, outcome);
    EXPECT_FALSE(judgement.met);
    EXPECT_NE(judgement.note.find("printed nothing"), std::string::npos);
}

// Whether `line` from its position `l` is what printing `literal` from `f`
// can give: %s stands for any text, %u for a number.
bool matches(const std::string& literal, size_t f, const std::string& line, size_t l)
{
    if (f == literal.size()) return l == line.size();
    if (literal.compare(f, 2, "%s") == 0) {
        for (size_t end = l; end <= line.size(); ++end)
            if (matches(literal, f + 2, line, end)) return true;
        return false;
    }
    if (literal.compare(f, 2, "%u") == 0 || literal.compare(f, 2, "%d") == 0) {
        size_t end = l;
        if (literal[f + 1] == 'd' && end < line.size() && line[end] == '-') ++end;
        while (end < line.size() && isdigit(static_cast<unsigned char>(line[end]))) ++end;
        for (; end > l; --end)
            if (matches(literal, f + 2, line, end)) return true;
        return false;
    }
    return l < line.size() && literal[f] == line[l] && matches(literal, f + 1, line, l + 1);
}

// Whether `line` is what printing `literal` can give: a literal with %s or %u
// stands for any text or number there, if it has words of its own.
bool printable(const std::string& literal, const std::string& line)
{
    size_t conversions = 0;
    for (size_t at = 0; (at = literal.find('%', at)) != std::string::npos; ++at)
        if (literal.compare(at, 2, "%s") == 0 || literal.compare(at, 2, "%u") == 0 || literal.compare(at, 2, "%d") == 0)
            ++conversions;
    if (conversions == 0) return literal == line;
    return literal.size() - 2 * conversions >= 10 && matches(literal, 0, line, 0);
}

// A catalogue line the suite never prints (or a finding the operator never
// makes) could never be caught; an expected test that is not run would be
// reported as a miss for the wrong reason.
TEST(FaultMatrix, CatalogueNamesLinesTheSuitePrintsAndRunsItsExpectedTest)
{
    std::vector<std::string> printed = { std::string(paperDiffers) + "\n" };
    for (const char* dir : { VPOP_SOURCE_DIR "/cases", VPOP_SOURCE_DIR "/runner" }) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            for (std::string& text : literals(entry.path())) printed.push_back(text);
        }
    }
    for (const FaultCase& c : faultCatalogue()) {
        std::string line = std::string(c.expectedLine) + "\n";
        EXPECT_TRUE(
            std::any_of(printed.begin(), printed.end(), [&](const std::string& p) { return printable(p, line); }))
            << c.fault << ": " << c.expectedLine;
        EXPECT_NE(std::find(c.tests.begin(), c.tests.end(), c.expectedTest), c.tests.end()) << c.fault;
        // devbench-extended's procedures are long and each stands alone: a
        // fault's run is its one procedure.
        if (c.suite == Suite::Devbench) {
            EXPECT_GE(c.tests.size(), 2u) << c.fault << " has no neighbour";
        }
        EXPECT_LT(c.expectedTest, testCount(c.suite)) << c.fault;
    }
}

} // namespace
