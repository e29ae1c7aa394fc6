// Which library files a run used, and what they are: path, size, SHA-256
// and (Windows) the file version; on Windows also the 32-bit library of
// Test Port Locking's probe and the calling convention it was built for.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

#include "operator/platform/host.h"

namespace vpop {

struct LibraryFile {
    std::string path;
    bool read = false;
    uint64_t size = 0;
    std::string sha256;
    // From a Windows version resource; empty when there is none.
    std::string fileVersion;
    // The file at `path` was put in place of (or rewrote) the one the run
    // used: before it could be read (`read` false, no hash) or later (the
    // hash is of the one used). The note says which.
    bool replacedDuringRun = false;
    std::string replacedNote;
    // Why the operator cannot tell that `path` is the file whose code ran
    // (no path leads to the file devbench mapped); empty when it can.
    std::string identityNote;
};

// What the file at `path` is; `read` false (with a warning) when it cannot
// be read. With `used` (the file a process mapped), only while the file at
// `path` is still that one; `identity` is then that of the file read, for
// recheckLibrary at the end.
LibraryFile inspectLibrary(
    const std::string& path, const FileIdentity* used = nullptr, FileIdentity* identity = nullptr);

// The library devbench named as the file that provides its OpenPortA
// (`named`), checked against the file its process mapped there (`mapped`,
// by device and inode): the record names the first of the two paths (the
// mapped one first) that leads to that file, hashed; when neither does, `named` without a hash and
// a note that says the record cannot tell. `identity` as inspectLibrary's.
LibraryFile identifyLibrary(
    const std::string& named, const std::string& mapped, const FileIdentity& used, FileIdentity* identity);
// A note for a library devbench named but whose mapping cannot be found.
LibraryFile unidentifiedLibrary(const std::string& named, const std::string& why);

// Marks `library` replaced (with a warning) when the file at its path is no
// longer `identity`, the file that was read.
void recheckLibrary(LibraryFile& library, const FileIdentity& identity);

// What is wrong with the Windows DLL at `path` for a program of `bits`
// (64 or 32), read from its PE header before anything loads it: empty when
// it is a DLL of that width, or when there is no file there.
std::string dllWidthProblem(const std::string& path, unsigned bits);

// The same for the DLL that `program` (a Windows executable) loads: the
// program's own header says which width belongs. Empty when the program's
// width cannot be read; starting it then says what is wrong.
std::string loadedDllProblem(const std::string& program, const std::string& dll);

// The file a package names beside holdprobe.exe for the convention it was
// built for ("cdecl" or "stdcall").
inline constexpr char callingConventionFile[] = "calling-convention.txt";

// Windows: the 32-bit library beside holdprobe.exe, in devbench's working
// directory. None on Linux, where the probe loads devbench's own library.
// `identity` as inspectLibrary's.
std::optional<LibraryFile> probeLibrary(const std::string& workingDirectory, FileIdentity* identity);
// Windows: "cdecl" or "stdcall"; empty (with a warning) when the package
// does not say. Empty on Linux, which has one convention.
std::string callingConvention(const std::string& workingDirectory);

} // namespace vpop
