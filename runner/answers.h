// The runner's own side of the answer notes: the prompts name the step, the
// failure helpers print the line.
#pragma once

#include "runner/harness.h"

// The step the technician was last asked to make.
void noteStep(const char* text);

// Writes the answer line of a failed check on standard error.
void printAnswer(Check check, const Wanted& wanted);
