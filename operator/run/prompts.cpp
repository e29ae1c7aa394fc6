#include "operator/run/prompts.h"

#include <algorithm>
#include <cctype>

namespace vpop {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

} // namespace

const PromptRule* findPrompt(std::string_view line)
{
    for (const PromptRule& rule : promptTable()) {
        if (rule.text == line) return &rule;
    }
    return nullptr;
}

const QuestionRule* findQuestion(std::string_view asked)
{
    static const QuestionRule rules[] = {
        { EXT_ASK_RESET, PrinterFact::Reset },
        { EXT_ASK_UNPLUGGED_LINE, PrinterFact::UnpluggedLine },
        { EXT_ASK_OFFLINE_LINE, PrinterFact::OfflineLine },
        { EXT_ASK_ONCE_LINE, PrinterFact::OnceLine },
        { EXT_ASK_STILL_PRINTING, PrinterFact::StillPrinting },
        { EXT_ASK_RASTER_WHOLE, PrinterFact::RasterWhole },
    };
    constexpr std::string_view end = EXT_YES_NO_END;
    if (asked.size() <= end.size() || asked.substr(asked.size() - end.size()) != end) return nullptr;
    std::string_view text = asked.substr(0, asked.size() - end.size());
    for (const QuestionRule& rule : rules) {
        if (rule.text == text) return &rule;
    }
    return nullptr;
}

bool looksLikePrompt(std::string_view line)
{
    std::string text = lower(line);
    auto has = [&](std::string_view word) { return text.find(word) != std::string::npos; };
    auto endsWith = [&](std::string_view word) {
        return text.size() >= word.size() && text.compare(text.size() - word.size(), word.size(), word) == 0;
    };
    if (has("hit enter") || has("press enter") || endsWith("now")) return true;
    for (std::string_view start : { "make the printer", "put ", "take ", "connect ", "disconnect ", "turn the" }) {
        if (text.compare(0, start.size(), start) == 0) return true;
    }
    return false;
}

const std::array<SuiteTest, suiteTestCount>& suiteTests()
{
    static const std::array<SuiteTest, suiteTestCount> tests = { {
        { "Test Open Port", "testOpenPort" },
        { "Test Bad Port Name", "testBadPortName" },
        { "Test Port Locking", "testPortLocking" },
        { "Test Write", "testWrite" },
        { "Test Write Offline Timeout", "testWriteOfflineTimeout" },
        { "Test Write Disconnect", "testWriteDisconnect" },
        { "Test Read", "testRead" },
        { "Test Read Disconnect", "testReadDisconnect" },
        { "Test Reset Device", "testResetDevice" },
        { "Test Reset Device Disconnect", "testResetDeviceDisconnect" },
        { "Test Get Online Status", "testGetOnlineStatus" },
        { "Test Get Online Status Disconnect", "testGetOnlineStatusDisconnect" },
        { "Test Get Parsed Status", "testGetParsedStatus" },
        { "Test Old Get Parsed Status", "testOldGetParsedStatus" },
        { "Test Get Parsed Status Disconnect", "testGetParsedStatusDisconnect" },
        { "Test Hybrid Get Parsed Status", "testHybridGetParsedStatus" },
        { "Test Begin Checked Block", "testBeginCheckedBlock" },
        { "Test Begin Checked Block Disconnect", "testBeginCheckedBlockDisconnect" },
        { "Test End Checked Block Raster", "testEndCheckedBlock" },
        { "Test End Checked Block ASCII", "testEndCheckedBlock" },
        { "Test Too Much Data For Parallel Port", "testTooMuchDataForParallelPort" },
    } };
    return tests;
}

const std::array<SuiteTest, extendedTestCount>& extendedTests()
{
    static const std::array<SuiteTest, extendedTestCount> tests = { {
        { "Lock Under Other Names And Folders", "testLockOtherNames" },
        { "Lock Over Time And Started Programs", "testLockOverTime" },
        { "Lock Beside Refused Opens", "testLockBesideRefusals" },
        { "Lock Across A Disconnect", "testLockAcrossDisconnect" },
        { "Refused Opens Return Their Handles", "testRefusalHandles" },
        { "Unreachable Printer Not Held", "testRefusalUnreachable" },
        { "Disconnect And Reconnect", "testReconnect" },
        { "Reset Restarts The Printer", "testResetRestarts" },
        { "Idle Session", "testIdleSession" },
        { "Cover, Paper And Online Key Apart", "testStatusApart" },
        { "Slip Sensors Apart", "testSlipApart" },
        { "Checked Blocks In A Row", "testBlocksInARow" },
        { "Read In Small Pieces", "testReadPieces" },
        { "Write Whole And At Once", "testWriteOnce" },
        { "Write While Offline", "testWriteOffline" },
    } };
    return tests;
}

unsigned testCount(Suite suite) { return suite == Suite::Extended ? extendedTestCount : suiteTestCount; }

const SuiteTest& suiteTest(Suite suite, unsigned number)
{
    // A number a record names that the suite has not is no test of it.
    static const SuiteTest unknown = { "(unknown test)", "" };
    if (number >= testCount(suite)) return unknown;
    return suite == Suite::Extended ? extendedTests()[number] : suiteTests()[number];
}

std::string_view suiteName(Suite suite) { return suite == Suite::Extended ? "devbench-extended" : "devbench"; }

bool suiteOfName(std::string_view name, Suite* suite)
{
    for (Suite each : { Suite::Devbench, Suite::Extended }) {
        if (name != suiteName(each)) continue;
        *suite = each;
        return true;
    }
    return false;
}

std::string testLabel(Suite suite, unsigned number)
{
    return (suite == Suite::Extended ? "x" : "") + std::to_string(number);
}

std::string testTitle(Suite suite, unsigned number)
{
    return testLabel(suite, number) + " " + std::string(suiteTest(suite, number).name);
}

std::vector<MenuChoice> allTests(Suite suite)
{
    MenuChoice all { "a", {} };
    for (unsigned i = 0; i < testCount(suite); ++i) all.tests.push_back(i);
    return { all };
}

std::optional<std::vector<MenuChoice>> parseTestList(std::string_view text, std::string* error)
{
    std::vector<MenuChoice> choices;
    if (text == "a") return allTests(Suite::Devbench);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view item = text.substr(start, end - start);
        // Plain digits only: devbench reads at most two characters and would
        // quietly run some other test for anything else.
        bool digits = !item.empty() && item.size() <= 2
            && std::all_of(item.begin(), item.end(), [](unsigned char c) { return std::isdigit(c); });
        unsigned number = digits ? static_cast<unsigned>(std::stoul(std::string(item))) : suiteTestCount;
        if (number >= suiteTestCount) {
            if (error) *error = "not a test number (0 to 20): '" + std::string(item) + "'";
            return std::nullopt;
        }
        choices.push_back({ std::to_string(number), { number } });
        start = end + 1;
    }
    return choices;
}

} // namespace vpop
