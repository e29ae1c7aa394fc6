// The sign-off report as Markdown, for a CI job's summary page: the same
// verdicts as the page, a table and the failure lines, without consoles.
// Text from a record is escaped, so it never becomes markup or HTML.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operator/report/content.h"

namespace vpop::signoff {

std::string markdownReport(const ReadRun& run);
std::string markdownComparison(const std::vector<ReadRun>& runs, const ReadRun* baseline = nullptr);

// Text for a paragraph or a table cell: on one line, every character that
// makes markup amid a line escaped.
std::string markdownText(std::string_view text);

} // namespace vpop::signoff
