// The files asked for with --record and --junit. Both are opened before the
// run, so a path that cannot be written fails at once, not after an hour at
// the printer; both are written even when the run broke off.
#pragma once

#include <stdio.h>

#include <string>

#include "operator/records.h"

namespace vpop {

class RecordFiles {
public:
    RecordFiles(std::string jsonPath, std::string junitPath);
    RecordFiles(const RecordFiles&) = delete;
    RecordFiles& operator=(const RecordFiles&) = delete;
    ~RecordFiles();

    bool wanted() const { return !jsonPath_.empty() || !junitPath_.empty(); }
    bool open(std::string* error);
    // False, with `error` naming every file that could not be written.
    bool write(const RunRecord& record, std::string* error);

private:
    std::string jsonPath_;
    std::string junitPath_;
    FILE* json_ = nullptr;
    FILE* junit_ = nullptr;
};

// Writes `text` and closes `file`; false with `error` when either fails.
bool writeFile(FILE*& file, const std::string& path, const std::string& text, std::string* error);

} // namespace vpop
