// What the operator needs of the machine it runs on, beyond its children:
// paths, names, the clock, Ctrl-C and the technician's keys. One POSIX and
// one Win32 implementation.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace vpop {

// "devbench" or "devbench.exe", devbench-extended beside it, and the library
// file both load.
extern const char devbenchProgram[];
extern const char devbenchExtendedProgram[];
extern const char libraryFileName[];

// Paths and arguments are UTF-8 throughout. On Windows the command line is
// read wide and files are opened wide, so a folder whose name is outside the
// ANSI code page (a technician's Ж日) reaches devbench intact.
std::vector<std::string> commandLineArguments(int argc, char** argv);
// The files a file argument names. A Windows shell hands `run*.json` over as
// it is, so there the program matches * and ? itself (in name order; none
// when nothing matches); elsewhere the shell has done it and the argument is
// the one file.
std::vector<std::string> matchingFiles(const std::string& argument);
FILE* openFile(const std::string& path, const char* mode);
#ifdef _WIN32
std::wstring wideText(const std::string& text);
#endif

// Opens what is closed of standard input, output and error on /dev/null
// (POSIX), so no pipe or file the operator opens is taken for them; on
// Windows, turns crash dialogs into exit statuses for the operator and the
// programs it starts.
void openStandardStreams();

std::string programDirectory(const char* argv0);
std::string absolutePath(const std::string& path);
std::string joinPath(const std::string& directory, const std::string& name);
std::string directoryOf(const std::string& path);
bool fileExists(const std::string& path);
// Prints UTF-8 text on standard output; a Windows console is written wide,
// so that a path outside its code page shows as it is.
void printText(const std::string& text);

// What tells a file from one put in its place, and from itself rewritten:
// the device and inode (Windows: the volume and file index), the size and
// the last write.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    int64_t written = 0;

    bool sameFile(const FileIdentity& other) const { return device == other.device && index == other.index; }
    bool operator==(const FileIdentity& other) const
    {
        return sameFile(other) && size == other.size && written == other.written;
    }
};

// Of an open file, and of the one at `path` now; false when it cannot be
// told.
bool fileIdentity(FILE* file, FileIdentity* identity);
bool fileIdentity(const std::string& path, FileIdentity* identity);

// Whether `path` is on an overlay file system (a container's), whose files
// a process's memory map names by the device of the layer below; false
// where there is none (Windows).
bool onOverlayFileSystem(const std::string& path);

// The version in a Windows file's version resource ("1.2.3.4"); empty when
// it has none, and everywhere else.
std::string fileVersion(const std::string& path);

// The folder a user's data is kept in: $XDG_DATA_HOME, else
// ~/.local/share; on Windows %LOCALAPPDATA%. Empty when none can be told.
std::string userDataDirectory();
// Makes the folder and the ones above it that are missing; `error` names it.
bool makeDirectories(const std::string& path, std::string* error);

std::string hostName();
// Now, UTC, as 2026-12-08T01:51:00Z.
std::string utcTimestamp();
// Seconds since 1970 of a UTC calendar time (timegm); `fields` is left
// normalised, so a day that does not exist shows as another.
time_t utcSeconds(std::tm* fields);

// Opens a regular file of at most `limit` bytes to read. A FIFO, a device
// or a folder is refused at once, without waiting for a writer: a report
// never hangs on a path given by mistake. Null with `error` naming the file.
FILE* openRegularFile(const std::string& path, size_t limit, std::string* error);

// Ctrl-C and requests to end the operator. installInterrupts returns false
// when they cannot be caught. interruptFd is readable after one (POSIX; -1
// on Windows). onInterrupt calls `callback` once, from another thread, at
// the first one.
bool installInterrupts();
int interruptFd();
void onInterrupt(std::function<void()> callback);

// The technician's keys: blocks for the next ones, returns 0 at the end,
// and soon after stopReadingKeys.
size_t readKeys(char* buffer, size_t size);
void stopReadingKeys();
bool keysFromTerminal();

} // namespace vpop
