// Changing the virtual printer's state, as an operator would at the printer,
// and reading its paper.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "operator/run/session.h"

namespace vpop {

// Applies the control words (key=value) together, or none of them.
bool setPrinter(const std::string& endpoint, const std::vector<std::string>& settings, std::string* error);

// The jobs the printer took since it had taken `*seen` jobs, oldest first;
// `*seen` becomes the count now. False when the printer cannot be read or no
// longer holds one of those jobs.
bool readNewJobs(const std::string& endpoint, uint64_t* seen, std::vector<PaperJob>* jobs, std::string* error);

// How many jobs the printer has taken so far.
bool jobsSoFar(const std::string& endpoint, uint64_t* count, std::string* error);

} // namespace vpop
