#include "operator/record/version.h"

#include "devbench_version.h"

namespace vpop {

const char* devbenchVersion() { return DEVBENCH_VERSION; }

} // namespace vpop
