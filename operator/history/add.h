// Putting runs into the store: each once, by its record's identity.
#pragma once

#include <string>

#include "operator/history/connection.h"
#include "operator/record/records.h"

namespace vpop::history {

// Adds the run unless the store holds it already; `added` says which. Call
// within a writing transaction.
bool addRun(Connection& store, const RunRecord& record, bool* added, std::string* error);

} // namespace vpop::history
