// The fault matrix: a healthy run of the catalogue's tests, then each fault's
// tests, with a row for each fault saying whether the suite caught it.
#pragma once

#include "operator/record/records.h"
#include "operator/run/run.h"

namespace vpop {

// Runs up to `jobs` of the matrix's runs at once; rows come in catalogue
// order all the same. The exit status: 0 when every fault was caught, 1 when
// one was not or the run broke off, 2 when the healthy run could not be set
// up.
int runMatrix(const RunOptions& options, unsigned jobs, RunRecord* record);

} // namespace vpop
