#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "operator/run/prompts.h"
#include "operator/tests/source_text.h"

namespace {

using namespace vpop;

struct CasesText {
    std::vector<std::string> prompts;
    std::string all;
    bool complete = true;
};

CasesText casesText()
{
    CasesText cases;
    // devbench-extended's prompts are in its table of texts.
    std::vector<std::filesystem::path> files = { VPOP_SOURCE_DIR "/runner/extended_texts.h" };
    for (const auto& entry : std::filesystem::recursive_directory_iterator(VPOP_SOURCE_DIR "/cases")) {
        if (entry.path().extension() == ".cpp") files.push_back(entry.path());
    }
    for (const std::filesystem::path& file : files) {
        for (std::string value : literals(file)) {
            if (value.find("test not built yet") != std::string::npos) cases.complete = false;
            cases.all += value + '\x01';
            // Prompts are printed either through operatorPrompt or, for the
            // line that wants no answer, with their own newline.
            if (!value.empty() && value.back() == '\n') value.pop_back();
            if (looksLikePrompt(value)) cases.prompts.push_back(value);
        }
    }
    return cases;
}

// A prompt the table does not know stops every run that reaches it.
TEST(PromptTable, KnowsEveryPromptTheCasesPrint)
{
    for (const std::string& prompt : casesText().prompts) {
        EXPECT_NE(findPrompt(prompt), nullptr) << "not in the operator's prompt table: '" << prompt << "'";
    }
}

// A table text with a typo would never match and hide a missing prompt.
TEST(PromptTable, HoldsNoTextTheCasesDoNotPrint)
{
    CasesText cases = casesText();
    if (!cases.complete) GTEST_SKIP() << "some test cases are not written yet";
    for (const PromptRule& rule : promptTable()) {
        std::string printed = std::string(rule.text) + (rule.answerWithEnter ? "" : "\n");
        EXPECT_NE(cases.all.find(printed + '\x01'), std::string::npos) << "no test prints '" << rule.text << "'";
    }
}

// Were a table text not prompt-like, a misspelt variant of it in the cases
// would be echoed instead of refused, and the run would hang at it.
TEST(PromptTable, EveryTextLooksLikeAPromptAndOrdinaryOutputDoesNot)
{
    std::set<std::string_view> seen;
    for (const PromptRule& rule : promptTable()) {
        EXPECT_TRUE(looksLikePrompt(rule.text)) << rule.text;
        EXPECT_TRUE(seen.insert(rule.text).second) << "twice: " << rule.text;
        EXPECT_FALSE(rule.settings.empty()) << rule.text;
    }
    for (std::string_view line : { "testEndCheckedBlock", "failure: line(42) WritePort returned VX_FALSE",
             "device firmware name: 1b", "2a", "Available tests:", "6 - Test Read", "devbench", "" }) {
        EXPECT_FALSE(looksLikePrompt(line)) << line;
    }
    EXPECT_TRUE(looksLikePrompt("Make the printer go online, then hit enter"));
    EXPECT_TRUE(looksLikePrompt("Open the cover, NOW"));
}

// Making the printer online must end with the online button, after the
// causes of a latched error are gone.
TEST(PromptTable, OnlineAnswersPressOnlineLast)
{
    const PromptRule* online = findPrompt("Make the printer online, then hit enter");
    ASSERT_NE(online, nullptr);
    EXPECT_EQ(online->settings.back(), "online=yes");
    const PromptRule* thenOffline = findPrompt("Make the printer online, then make it offline, then hit enter");
    ASSERT_NE(thenOffline, nullptr);
    EXPECT_EQ(thenOffline->settings.back(), "online=no");
    EXPECT_NE(std::find(thenOffline->settings.begin(), thenOffline->settings.end(), "cover=closed"),
        thenOffline->settings.end());
    const PromptRule* now = findPrompt("Make the printer offline (cover open), NOW");
    ASSERT_NE(now, nullptr);
    EXPECT_FALSE(now->answerWithEnter);
}

// The figure a case names `name` (static const ... NAME = N;), as the case
// has it now.
double caseFigure(const char* file, const std::string& name)
{
    std::ifstream in(std::string(VPOP_SOURCE_DIR "/cases/") + file);
    std::stringstream text;
    text << in.rdbuf();
    size_t at = text.str().find(" " + name + " = ");
    EXPECT_NE(at, std::string::npos) << name << " is not in cases/" << file;
    return at == std::string::npos ? 0 : std::stod(text.str().substr(at + name.size() + 4));
}

// A limit below what a test may lawfully take breaks off a healthy but slow
// library's run; outside the tests the base alone catches a silent devbench.
TEST(SilenceLimit, CoversWhatEachTestMayLawfullyTake)
{
    const double base = 30;
    EXPECT_EQ(silenceLimit(std::nullopt, base), base);
    // Up to twice the pairs, each open and close within its 5 s, and a wait
    // for late releases after each hundred.
    double open
        = caseFigure("open.cpp", "OPEN_REPEATS") * 2 * 2 * 5 + 2 * caseFigure("open.cpp", "HANDLE_SETTLE_MS") / 1000;
    EXPECT_GE(silenceLimit(0, base), base + open) << "200 opens and closes, each within its 5 s, and two waits";
    EXPECT_GE(silenceLimit(6, base), base + caseFigure("read.cpp", "REPLY_TIME_LIMIT_MS") / 1000);
    EXPECT_GE(silenceLimit(7, base), base + caseFigure("read.cpp", "REPLY_WAIT_MS") / 1000 + 5 * 5);
    EXPECT_GE(silenceLimit(15, base), base + caseFigure("parsed_status.cpp", "VALIDATION_WAIT_MS") / 1000 + 5 + 5);
    for (unsigned test = 1; test < suiteTestCount; ++test) EXPECT_LT(silenceLimit(test, base), base + 60) << test;
}

TEST(TestList, AllIsOneMenuAnswerRunningTheTableInOrder)
{
    auto plan = parseTestList("a", nullptr);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->size(), 1u);
    EXPECT_EQ((*plan)[0].answer, "a");
    ASSERT_EQ((*plan)[0].tests.size(), suiteTestCount);
    for (unsigned i = 0; i < suiteTestCount; ++i) EXPECT_EQ((*plan)[0].tests[i], i);
}

TEST(TestList, NumbersAreOneAnswerEachInTheGivenOrder)
{
    auto plan = parseTestList("19,0,19", nullptr);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->size(), 3u);
    EXPECT_EQ((*plan)[0].answer, "19");
    EXPECT_EQ((*plan)[1].answer, "0");
    EXPECT_EQ((*plan)[2].tests, std::vector<unsigned> { 19 });
}

// devbench would run some other test (or none) for these, and the verdict
// would be about the wrong test.
TEST(TestList, RefusesWhatDevbenchWouldReadAsAnotherTest)
{
    for (std::string_view text : { "", "21", "-1", "+5", "x", "1,,2", "3,", "007", "e", "A", "1 2" }) {
        std::string error;
        EXPECT_FALSE(parseTestList(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

} // namespace
