// The JSON record of a run (docs/records.md describes it).
#pragma once

#include <string>

#include "operator/record/records.h"

namespace vpop {

// The record's layout; the report reads the versions it knows.
inline constexpr int recordSchema = 1;

std::string jsonRecord(const RunRecord& record);

} // namespace vpop
