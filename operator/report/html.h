// The sign-off report as one self-contained page: its style inline, no
// script, nothing fetched, so it opens from a mail attachment or a share.
// Every text from a record is escaped; control characters show as symbols.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operator/report/content.h"

namespace vpop::signoff {

std::string htmlReport(const ReadRun& run);
std::string htmlComparison(const std::vector<ReadRun>& runs, const ReadRun* baseline = nullptr);

// Text for an HTML element or a quoted attribute.
std::string htmlText(std::string_view text);
// A page as the report writes it: the sign-off style built in, nothing it
// could run or fetch.
std::string htmlPage(const std::string& title, const std::string& body);

} // namespace vpop::signoff
