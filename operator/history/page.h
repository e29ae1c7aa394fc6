// The history as one page: per bench, its builds in time order by the
// suite's tests, first failures and flaky tests marked, and each run's
// sign-off section that the cells link to.
#pragma once

#include <string>

#include "operator/history/connection.h"

namespace vpop::history {

bool historyPage(Connection& store, const std::string& bench, std::string* html, std::string* error);

} // namespace vpop::history
