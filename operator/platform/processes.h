// Starting and stopping the programs the operator drives. Each child runs in
// a process group of its own, so stopping it also stops what it started
// (devbench's holdprobe), and a terminal's Ctrl-C reaches only the operator.
// On Windows a job object plays the process group's part.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "operator/platform/host.h"

namespace vpop {

#if defined(_WIN32)
struct Child {
    // HANDLEs; null when absent.
    void* process = nullptr;
    void* job = nullptr;
    void* input = nullptr;
    void* output = nullptr;
    void* error = nullptr;
};
#else
struct Child {
    pid_t pid = -1;
    // The child's standard input and output, when piped (else -1).
    int input = -1;
    int output = -1;
    int error = -1;
};
#endif

struct ChildOptions {
    std::string directory;
    bool pipeInput = false;
    bool pipeOutput = false;
    // Standard error in a pipe of its own (else the operator's).
    bool pipeError = false;
    // Discard standard output instead of sharing the operator's.
    bool quietOutput = false;
};

// Starts `path` with `args` (args[0] included). Fails, saying why, when the
// program cannot be started at all.
bool startChild(const std::string& path, const std::vector<std::string>& args, const ChildOptions& options,
    Child* child, std::string* error);

// Waits up to `seconds` for the child to end; true with its status (exit code,
// or 128 + signal) when it did.
bool waitChild(Child& child, double seconds, int* status);

// Ends the child's group (SIGTERM, then SIGKILL after `graceSeconds`), reaps
// the child and closes its pipes. Safe to call twice.
void stopChild(Child& child, double graceSeconds);

// Ends the child's group at once, leaving its pipes open and the child
// unreaped, so a thread still reading its output sees the end and returns.
void killChild(Child& child);

// Blocks until the child prints something on its standard output (or
// error): the byte count, 0 at its end.
size_t readOutput(Child& child, char* buffer, size_t size);
size_t readError(Child& child, char* buffer, size_t size);

// Writes all of `text` to the child's input; false when it stopped reading.
bool writeInput(Child& child, const std::string& text);

#if !defined(_WIN32)
// Writes all of `text`; false when the reader is gone.
bool writeAll(int fd, const std::string& text);
#endif

// The module named `fileName` (libKelmorPort.so, KelmorPort.dll) that the
// child has loaded: its full path and the identity of the file mapped (on
// Linux the device and inode of its memory maps; on Windows, from its module
// list, the file at that path, which Windows keeps while it is loaded).
// None when it has none or they cannot be read.
struct LoadedModule {
    std::string path;
    // Linux: the device and inode only.
    FileIdentity identity;
};
std::optional<LoadedModule> loadedModule(const Child& child, const std::string& fileName);
// The file mapped at `address` in the child's memory, whatever its name:
// on Linux the kernel's name of it with its device and inode, on Windows
// the module loaded there.
std::optional<LoadedModule> moduleAt(const Child& child, uint64_t address);

double monotonicSeconds();

} // namespace vpop
