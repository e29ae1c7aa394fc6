// Records of the layouts this project wrote before today's, read as today's:
// a lab's history outlives a change of format.
#pragma once

#include <nlohmann/json.hpp>

namespace vpop {

// The first layout a record of this project ever had.
inline constexpr int oldestRecordSchema = 1;

// Gives `record`, a record of `schema` (older than today's), every field
// today's layout has and it lacks, with the value that layout means by its
// absence: no labels, no standard error kept, a test's facts as its stated
// verdict says. Fields it has are left as they are, so the reader still
// refuses what is wrong in them.
void upgradeRecord(nlohmann::ordered_json& record, int schema);

} // namespace vpop
