// A file the operator writes when a run is over (a record, a report),
// checked before the run so a path that cannot be written fails at once, not
// after an hour at the printer. A regular file is written beside its place
// and renamed into it, so an operator killed meanwhile leaves the previous
// file or none, never an empty one. A FIFO or a device (/dev/stdout) is
// opened at once, without waiting for a reader, and written as it is, as
// is anything under /dev/ and /proc/: /dev/stdout redirected to a file gets
// the record after the table. A link at the name that another user made (in
// a shared folder it leads where they chose) is refused, never followed.
#pragma once

#include <stdio.h>

#include <string>

namespace vpop {

class OutputFile {
public:
    explicit OutputFile(std::string path)
        : path_(std::move(path))
    {
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const std::string& path() const { return path_; }
    // False, with `error` saying why, when the file could not be written.
    bool check(std::string* error);
    // Puts `text` in the file whole; false with `error` when it could not.
    bool write(const std::string& text, std::string* error);

private:
    std::string path_;
    // Where a regular file is renamed to: the place a link leads to.
    std::string target_;
    // A FIFO or device, held open from the check.
    FILE* stream_ = nullptr;
};

// What names one file, however it is reached (a link, ./name), as text to
// compare: its identity, or (POSIX) its folder's and its name when it does
// not exist yet.
std::string fileKey(const std::string& path);

} // namespace vpop
