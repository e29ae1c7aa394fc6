// Which library file a run used, and what it is: path, size, SHA-256 and
// (Windows) the file version.
#pragma once

#include <stdint.h>

#include <string>

namespace vpop {

struct LibraryFile {
    std::string path;
    bool read = false;
    uint64_t size = 0;
    std::string sha256;
    // From a Windows version resource; empty when there is none.
    std::string fileVersion;
};

// The library devbench at `devbench`, started in `workingDirectory`, loads:
// the first found of the loader's search path (relative entries taken from
// devbench's working directory), devbench's own directory,
// `workingDirectory`.
std::string libraryPath(const std::string& devbench, const std::string& workingDirectory);
LibraryFile inspectLibrary(const std::string& path);

} // namespace vpop
