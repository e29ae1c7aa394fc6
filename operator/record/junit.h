// The JUnit report of a run, as CI servers read it.
#pragma once

#include <string>

#include "operator/record/records.h"

namespace vpop {

std::string junitReport(const RunRecord& record);

} // namespace vpop
