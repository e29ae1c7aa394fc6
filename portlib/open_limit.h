// The time limit devbench and holdprobe give OpenPortA; only Test Too Much
// Data For Parallel Port opens with another.
#pragma once

#include <stdint.h>

const uint32_t OPEN_TIME_LIMIT = 5000;
