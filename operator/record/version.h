// The suite's own version, fixed when the operator is built.
#pragma once

namespace vpop {

const char* devbenchVersion();

} // namespace vpop
