// devbench-extended's menu: its procedures and their display names.
#pragma once

#include "runner/harness.h"

const unsigned EXTENDED_COUNT = 15;
extern const TestProcedure extendedProcedures[EXTENDED_COUNT];
extern const char* const extendedNames[EXTENDED_COUNT];
