#include "operator/run/prompts.h"

#include <algorithm>
#include <cctype>

#include "portlib/open_limit.h"
#include "runner/harness.h"

namespace vpop {

namespace {

// The suite's own waits that a quiet stretch may hold, as its tests name
// them (the open's time limit and the stall limit are read from its
// headers): Test Read's bound on a whole reply, Test Read Disconnect's wait
// before a read, the hybrid test's wait for the validation.
const unsigned REPLY_TIME_LIMIT_MS = 20000;
const unsigned REPLY_WAIT_MS = 500;
const unsigned VALIDATION_WAIT_MS = 5000;

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
    // Each quiet stretch is the test's longest between two lines it prints
    // (the operator answers a prompt at once): Test Open Port's 100 opens
    // and closes; Test Port Locking's probe, its two copies and what they
    // close; Test Read's reply limit; the hybrid test's wait for the
    // validation; an End that waits for its job to print.
    static const std::array<SuiteTest, suiteTestCount> tests = { {
        { "Test Open Port", "testOpenPort", { 200, 0, 0 } },
        { "Test Bad Port Name", "testBadPortName", { 2, 0, 0 } },
        { "Test Port Locking", "testPortLocking", { 6, 0, 0 } },
        { "Test Write", "testWrite", { 2, 1, 0 } },
        { "Test Write Offline Timeout", "testWriteOfflineTimeout", { 5, 0, 0 } },
        { "Test Write Disconnect", "testWriteDisconnect", { 2, 0, 0 } },
        { "Test Read", "testRead", { 2, 0, REPLY_TIME_LIMIT_MS } },
        { "Test Read Disconnect", "testReadDisconnect", { 5, 0, REPLY_WAIT_MS } },
        { "Test Reset Device", "testResetDevice", { 3, 0, 0 } },
        { "Test Reset Device Disconnect", "testResetDeviceDisconnect", { 2, 0, 0 } },
        { "Test Get Online Status", "testGetOnlineStatus", { 3, 0, 0 } },
        { "Test Get Online Status Disconnect", "testGetOnlineStatusDisconnect", { 2, 0, 0 } },
        { "Test Get Parsed Status", "testGetParsedStatus", { 3, 0, 0 } },
        { "Test Old Get Parsed Status", "testOldGetParsedStatus", { 3, 0, 0 } },
        { "Test Get Parsed Status Disconnect", "testGetParsedStatusDisconnect", { 2, 0, 0 } },
        { "Test Hybrid Get Parsed Status", "testHybridGetParsedStatus", { 1, 1, VALIDATION_WAIT_MS } },
        { "Test Begin Checked Block", "testBeginCheckedBlock", { 3, 0, 0 } },
        { "Test Begin Checked Block Disconnect", "testBeginCheckedBlockDisconnect", { 2, 0, 0 } },
        { "Test End Checked Block Raster", "testEndCheckedBlock", { 3, 1, 0 } },
        { "Test End Checked Block ASCII", "testEndCheckedBlock", { 3, 1, 0 } },
        { "Test Too Much Data For Parallel Port", "testTooMuchDataForParallelPort", { 2, 1, 0 } },
    } };
    return tests;
}

double silenceLimit(std::optional<unsigned> runningTest, double base)
{
    if (!runningTest || *runningTest >= suiteTestCount) return base;
    const QuietStretch& quiet = suiteTests()[*runningTest].quiet;
    double ms = double(quiet.calls) * OPEN_TIME_LIMIT
        + double(quiet.chunkedWrites) * (WRITE_STALL_LIMIT_MS + OPEN_TIME_LIMIT) + quiet.waitsMs;
    return base + ms / 1000;
}

std::optional<std::vector<MenuChoice>> parseTestList(std::string_view text, std::string* error)
{
    std::vector<MenuChoice> choices;
    if (text == "a") {
        MenuChoice all { "a", {} };
        for (unsigned i = 0; i < suiteTestCount; ++i) all.tests.push_back(i);
        choices.push_back(all);
        return choices;
    }
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
