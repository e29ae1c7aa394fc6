// What the operator knows about devbench: the questions it asks, the prompts
// of its tests with the printer state each one asks for, and its test table.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/record/suite.h"
#include "runner/extended_texts.h"
#include "wire/prompt_table.h"

namespace vpop {

// The three questions devbench asks without ending the line.
inline constexpr std::string_view portNameQuestion = "Enter the port name: ";
inline constexpr std::string_view portSettingsQuestion = "Enter the port settings: ";
inline constexpr std::string_view menuQuestion = "Enter the test number to execute, or a for all, or e for exit: ";

// The first line of the menu, which follows the end of every test.
inline constexpr std::string_view menuHeading = "Available tests:";

// devbench-extended's question for another name of the port, which ends
// without a newline as the start-up questions do.
inline constexpr std::string_view otherNameQuestion = EXT_ASK_OTHER_NAME;

// What on the printer answers one of devbench-extended's yes/no questions.
enum class PrinterFact {
    // The printer was reset since the test began or the last question.
    Reset,
    // The line came out since the test began.
    UnpluggedLine,
    OfflineLine,
    OnceLine,
    // The last checked block's job is still being printed.
    StillPrinting,
    // What came out since the last question is exactly one raster job.
    RasterWhole,
};

struct QuestionRule {
    std::string_view text;
    PrinterFact fact;
};

// The rule of a question as devbench-extended leaves it waiting for the
// answer (its text and EXT_YES_NO_END); null for any other text.
const QuestionRule* findQuestion(std::string_view asked);

// The prompts' table is the printer's page's too.
using wire::PromptRule;
using wire::promptTable;

// The rule for a line exactly as devbench printed it (without its newline).
const PromptRule* findPrompt(std::string_view line);

// True for a line that asks the operator to do something. Such a line that is
// not in the table is refused rather than answered with a guess.
bool looksLikePrompt(std::string_view line);

// How long devbench may print nothing before the run breaks off: `base`
// (--timeout) where the suite bounds nothing of its own (start-up, the menu,
// between tests), and in a test `base` and all its quiet stretch may take.
double silenceLimit(std::optional<unsigned> runningTest, double base, Suite suite = Suite::Devbench);

// One answer at the menu and the tests it runs, in the order they run.
struct MenuChoice {
    std::string answer;
    std::vector<unsigned> tests;
};

// All tests of a suite as one menu answer.
std::vector<MenuChoice> allTests(Suite suite);

// "a" (all tests as one menu answer) or "N,N,..." (one answer per number).
std::optional<std::vector<MenuChoice>> parseTestList(std::string_view text, std::string* error);

} // namespace vpop
