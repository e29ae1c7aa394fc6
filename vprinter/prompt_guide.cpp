#include "vprinter/prompt_guide.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "vprinter/panel.h"
#include "wire/prompt_table.h"

namespace vprinter {

namespace {

using wire::PromptRule;

// "Cover: open" for "cover=open"; the word itself if the panel has no such control.
std::string named(std::string_view word)
{
    size_t equals = word.find('=');
    std::string_view key = word.substr(0, equals);
    std::string_view value = equals == std::string_view::npos ? "" : word.substr(equals + 1);
    for (const ControlName& control : panelControls()) {
        if (key != control.key) continue;
        for (const ControlName::Position& position : control.positions) {
            if (value == position.word) return std::string(control.label) + ": " + position.name;
        }
    }
    return std::string(word);
}

std::string onThePage(const PromptRule& rule)
{
    const std::vector<std::string_view>& ready = wire::readySettings();
    auto rest = rule.settings.begin();
    std::string text;
    if (rule.settings.size() >= ready.size() && std::equal(ready.begin(), ready.end(), rule.settings.begin())) {
        // The page puts each control's ready position first, on the left.
        text = "every control to the left, the Online key last";
        rest += static_cast<std::ptrdiff_t>(ready.size());
        if (rest != rule.settings.end()) text += "; then ";
    }
    for (auto word = rest; word != rule.settings.end(); ++word) text += (word == rest ? "" : ", ") + named(*word);
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!rule.after.empty()) text += " (" + std::string(rule.after) + ")";
    return text;
}

} // namespace

const std::vector<PromptGuide>& promptGuide()
{
    static const std::vector<PromptGuide> guide = [] {
        std::vector<PromptGuide> rows;
        for (const PromptRule& rule : wire::promptTable()) {
            std::string words;
            for (std::string_view word : rule.settings) words += (words.empty() ? "" : " ") + std::string(word);
            rows.push_back({ std::string(rule.text), onThePage(rule), words });
        }
        return rows;
    }();
    return guide;
}

std::string promptGuideMarkdown()
{
    std::string table = "| devbench's prompt | On the page | On the console, or `vprinter set` |\n"
                        "|---|---|---|\n";
    for (const PromptGuide& row : promptGuide()) {
        table += "| " + row.prompt + " | " + row.onThePage + " | `" + row.words + "` |\n";
    }
    return table;
}

} // namespace vprinter
