// The faults that change a status record's words on their way from the
// printer to the caller: a word at the wrong place, copied from another,
// latched, stuck, or a record canned after a failed call.
#pragma once

#include <stdint.h>

#include <vector>

#include "standin/faults.h"
#include "wire/protocol.h"

namespace standin {

void setRecordWord(std::vector<uint8_t>& words, uint32_t offset, int32_t value);
int32_t recordWord(const std::vector<uint8_t>& words, uint32_t offset);

// Every record call's words as the printer sent them. `coverSeenOpen` is the
// port's memory for cover-latched.
void applyRecordFaults(const Faults& faults, wire::Layout layout, std::vector<uint8_t>& words, bool* coverSeenOpen);

// Begin's and End's records as a library that fills them its own way.
void applyBlockFaults(const Faults& faults, std::vector<uint8_t>& words);

// canned-status: offline, cover open and no paper, whatever the printer says.
std::vector<uint8_t> cannedRecord(wire::Layout layout);

} // namespace standin
