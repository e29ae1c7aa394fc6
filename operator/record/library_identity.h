// Which library files a run used, and what they are: path, size, SHA-256
// and (Windows) the file version; on Windows also the 32-bit library of
// Test Port Locking's probe and the calling convention it was built for.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

namespace vpop {

struct LibraryFile {
    std::string path;
    bool read = false;
    uint64_t size = 0;
    std::string sha256;
    // From a Windows version resource; empty when there is none.
    std::string fileVersion;
    // The file at `path` was not the one devbench loaded by the end of the
    // run (rebuilt, copied over): the digest is of the one that ran, or none.
    bool replacedDuringRun = false;
    std::string replacedNote;
};

// What the file at `path` is; `read` false (with a warning) when it cannot
// be read.
LibraryFile inspectLibrary(const std::string& path);

// The file a package names beside holdprobe.exe for the convention it was
// built for ("cdecl" or "stdcall").
inline constexpr char callingConventionFile[] = "calling-convention.txt";

// Windows: the 32-bit library beside holdprobe.exe, in devbench's working
// directory. None on Linux, where the probe loads devbench's own library.
std::optional<LibraryFile> probeLibrary(const std::string& workingDirectory);
// Windows: "cdecl" or "stdcall"; empty (with a warning) when the package
// does not say. Empty on Linux, which has one convention.
std::string callingConvention(const std::string& workingDirectory);

} // namespace vpop
