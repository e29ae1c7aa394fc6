// `vpoperator report`: turns run records into the sign-off page, a
// comparison of runs, or Markdown for a CI summary.
#pragma once

#include <string>
#include <vector>

namespace vpop::signoff {

// The arguments after "report"; returns the exit status: 0 written, 2 a
// usage error, a record that cannot be read or an output not written.
int reportCommand(const std::vector<std::string>& arguments);

} // namespace vpop::signoff
