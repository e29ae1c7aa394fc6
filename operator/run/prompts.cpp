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
