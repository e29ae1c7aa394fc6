#include <gtest/gtest.h>

#include <ctype.h>

#include <algorithm>
// GCC 12 with the sanitizers takes libstdc++'s regex states for uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "operator/faults.h"
#include "operator/paper_check.h"
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
    EXPECT_TRUE(judge(fault, outcome).caught);

    // The same test failing for another reason proves nothing about the fault.
    outcome.records[0].failures = { "failure: line(50) GetOnlineStatus returned VX_FALSE" };
    Judgement other = judge(fault, outcome);
    EXPECT_FALSE(other.caught);
    EXPECT_NE(other.note.find("GetOnlineStatus returned VX_FALSE"), std::string::npos);

    outcome.records[0].failures.clear();
    EXPECT_FALSE(judge(fault, outcome).caught);
}

// A fault that also breaks an unrelated test is caught for the wrong reason,
// or shows a suite that fails on what it should take in its stride.
TEST(FaultMatrix, ANeighbourChangingVerdictSpoilsTheCatch)
{
    RunOutcome outcome;
    outcome.records = { record(10, { "failure: line(57) onlineStatus != VX_TRUE" }),
        record(8, { "failure: line(20) ResetDevice returned VX_FALSE" }) };
    Judgement judgement = judge(fault, outcome);
    EXPECT_FALSE(judgement.caught);
    EXPECT_NE(judgement.note.find("8 fail"), std::string::npos);
}

TEST(FaultMatrix, ARunThatBrokeOffCatchesNothing)
{
    RunOutcome outcome;
    outcome.records = { record(10, { "failure: line(57) onlineStatus != VX_TRUE" }), record(8) };
    outcome.broken = "devbench printed nothing for 30 s in testResetDevice (8)";
    Judgement judgement = judge(fault, outcome);
    EXPECT_FALSE(judgement.caught);
    EXPECT_NE(judgement.note.find("printed nothing"), std::string::npos);
}

// Whether `line` is what printing `literal` can give: a literal with %s or %u
// stands for any text or number there, if it has words of its own.
bool printable(const std::string& literal, const std::string& line)
{
    std::string pattern;
    size_t fixed = 0;
    for (size_t i = 0; i < literal.size(); ++i) {
        if (literal.compare(i, 2, "%s") == 0 || literal.compare(i, 2, "%u") == 0) {
            pattern += literal[++i] == 's' ? ".*" : "[0-9]+";
            continue;
        }
        if (!isalnum(static_cast<unsigned char>(literal[i])) && literal[i] != ' ') pattern += '\\';
        pattern += literal[i];
        ++fixed;
    }
    if (fixed == literal.size()) return literal == line;
    return fixed >= 10 && std::regex_match(line, std::regex(pattern));
}

// A catalogue line the suite never prints (or a finding the operator never
// makes) could never be caught; an expected test that is not run would be
// reported as a miss for the wrong reason.
TEST(FaultMatrix, CatalogueNamesLinesTheSuitePrintsAndRunsItsExpectedTest)
{
    std::vector<std::string> printed = { std::string(paperDiffers) + "\n" };
    for (const char* dir : { VPOP_SOURCE_DIR "/cases", VPOP_SOURCE_DIR "/runner" }) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            for (std::string& text : literals(entry.path())) printed.push_back(text);
        }
    }
    for (const FaultCase& c : faultCatalogue()) {
        std::string line = std::string(c.expectedLine) + "\n";
        EXPECT_TRUE(
            std::any_of(printed.begin(), printed.end(), [&](const std::string& p) { return printable(p, line); }))
            << c.fault << ": " << c.expectedLine;
        EXPECT_NE(std::find(c.tests.begin(), c.tests.end(), c.expectedTest), c.tests.end()) << c.fault;
        EXPECT_GE(c.tests.size(), 2u) << c.fault << " has no neighbour";
    }
}

} // namespace
