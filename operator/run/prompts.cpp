#include "operator/run/prompts.h"

#include <algorithm>
#include <cctype>

#include "portlib/open_limit.h"
#include "runner/harness.h"

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

std::vector<MenuChoice> allTests(Suite suite)
{
    MenuChoice all { "a", {} };
    for (unsigned i = 0; i < testCount(suite); ++i) all.tests.push_back(i);
    return { all };
}

double silenceLimit(std::optional<unsigned> runningTest, double base, Suite suite)
{
    if (!runningTest || *runningTest >= testCount(suite)) return base;
    const QuietStretch& quiet = suiteTest(suite, *runningTest).quiet;
    double ms = double(quiet.calls) * OPEN_TIME_LIMIT
        + double(quiet.chunkedWrites) * (WRITE_STALL_LIMIT_MS + OPEN_TIME_LIMIT) + quiet.waitsMs;
    return base + ms / 1000;
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
