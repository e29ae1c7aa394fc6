// The JSON record of a run (docs/records.md describes it): this module alone
// turns a RunRecord into JSON and reads JSON back into the same RunRecord.
#pragma once

#include <string>
#include <string_view>

#include "operator/record/records.h"

namespace vpop {

// The record's layout. A reader reads this one and every older one this
// project wrote, and refuses a newer one by name.
inline constexpr int recordSchema = 3;

// Far above a run of every test with its console and standard error; a file
// this big is no record.
inline constexpr size_t maxRecordBytes = size_t(64) << 20;

std::string jsonRecord(const RunRecord& record);

// False, with `error` saying what is wrong in words a technician can act on
// (cut short, not JSON, another version, a field missing or mistyped, a
// verdict its own facts contradict); `error` does not name the file.
bool parseRecord(std::string_view text, RunRecord* record, std::string* error);
// The record file at `path`, refused without waiting when it is a FIFO or a
// device; `error` names the file.
bool readRecord(const std::string& path, RunRecord* record, std::string* error);

} // namespace vpop
