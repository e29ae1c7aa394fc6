// The files asked for with --record and --junit. Both are checked before the
// run, so a path that cannot be written (or one file named twice) fails at
// once; both are written even when the run broke off.
#pragma once

#include <optional>
#include <string>

#include "operator/platform/output_file.h"
#include "operator/record/records.h"

namespace vpop {

class RecordFiles {
public:
    // A path not given is nullopt; an empty one is given, and refused.
    RecordFiles(const std::optional<std::string>& jsonPath, const std::optional<std::string>& junitPath);

    bool wanted() const { return json_.has_value() || junit_.has_value(); }
    bool open(std::string* error);
    // False, with `error` naming every file that could not be written.
    bool write(const RunRecord& record, std::string* error);

private:
    std::optional<OutputFile> json_;
    std::optional<OutputFile> junit_;
};

} // namespace vpop
