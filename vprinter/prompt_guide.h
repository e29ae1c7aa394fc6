// What each of devbench's prompts asks a person to do, in the names of the
// panel's controls: made from the operator's own prompt table, for the front
// page and for the README's table, which a test holds to it.
#pragma once

#include <string>
#include <vector>

namespace vprinter {

struct PromptGuide {
    std::string prompt;
    // The controls to set, in the page's names.
    std::string onThePage;
    // The same as words for the console or `vprinter set`.
    std::string words;
};

const std::vector<PromptGuide>& promptGuide();

// The guide as a Markdown table.
std::string promptGuideMarkdown();

} // namespace vprinter
