// The few system services the suite uses. One POSIX and one Win32
// implementation sit behind this header; it names no system types so the
// suite's code compiles the same everywhere, and it declares no name that
// <windows.h> defines as a macro, so it may come before or after that header.
#pragma once

#include <stdint.h>

namespace platform {

// Milliseconds from a monotonic clock; wraps at 2^32, so callers only take
// unsigned differences of two readings.
uint32_t GetTickCount();

void Sleep(uint32_t milliseconds);

// The last error of the calling thread after a failed library call;
// LAST_ERROR_ALREADY_EXISTS (183, Windows' ERROR_ALREADY_EXISTS) means the
// port is held by another process.
uint32_t GetLastError();

const uint32_t LAST_ERROR_ALREADY_EXISTS = 183;

// Clears the calling thread's last error before a library call, so a library
// that refuses without setting one is not read as giving the code left over
// from before.
void clearLastError();

// How many handles (file descriptors on POSIX) the process holds, the count's
// own included. False where the system cannot say; then the caller checks
// nothing.
bool countHandles(uint32_t* count);

// Before standard input is first read: a terminal's or console's keys are
// then taken from the system one at a time, so that keys typed ahead of a
// prompt, even the rest of a line already half read, stay with the system for
// discardTypedKeys. Piped input is read as before.
void readKeysOneAtATime();

// One character of standard input, as getchar gives it. Every key the
// suite reads comes through here, so the platform knows whether the line it
// came from was read to its end.
int readKey();

// Drops the keys typed at a terminal or console that nobody has read yet,
// the rest of a line already half read among them, before a prompt is
// shown; piped input is left untouched.
void discardTypedKeys();

// A crash ends the program with a status its caller reads, never with a
// system dialog that waits for a person (Windows); nothing elsewhere.
// Programs it starts inherit this.
void quietCrashes();

// True when standard error is a terminal or console, which a person reads:
// lines meant for a program reading devbench through pipes are left out there.
bool stderrIsTerminal();

// The file of the loaded module that holds `address` (a function of the port
// library, say), as the loader mapped it, and where that module was loaded.
// False, with nothing written, where the system cannot tell.
bool moduleFile(const void* address, char* path, uint32_t size, const void** base);

// Starts the program at path (relative to the current directory, never
// searched for) with argv as its argument entries, passed one by one without a
// shell, and waits for it. argv ends with a null entry. Returns the program's
// exit status, or -1 when it cannot be started.
int startAndWait(const char* path, const char* const* argv);

// A program started without waiting for it, and the same for one that
// starts in `folder` (the current folder when null; then give `path` whole,
// as it is not completed from the current folder). NO_PROGRAM when it cannot
// be started. Handles and descriptors the caller lets be inherited are
// inherited, as any program a library's user starts would inherit them.
typedef intptr_t ProgramHandle;
const ProgramHandle NO_PROGRAM = -1;
ProgramHandle startProgram(const char* path, const char* const* argv, const char* folder);
// Waits for it to end; its status as startAndWait's.
int waitProgram(ProgramHandle program);

// This program's own file, the current folder, and a folder for temporary
// files (never the current one unless the system says so): false where the
// system cannot tell or the name does not fit.
bool programFile(char* path, uint32_t size);
bool currentFolder(char* path, uint32_t size);
bool tempFolder(char* path, uint32_t size);

// False, after a line that says where the port library came from and where
// it belongs, when it was not loaded from the program's own folder. Windows
// also searches its system folders and the current folder for a DLL missing
// beside the program: one of the wrong width or build found there must
// never pass for the one under test. Elsewhere the run path ($ORIGIN) looks
// in the program's folder only, and this is always true.
bool libraryBesideProgram(const char* programName);

// What a status of startAndWait tells of how the program ended, as far as the
// system says: it never started, it started but could not load a library it
// needs, it crashed, or it ended by itself with that status.
enum ProgramEnd { PROGRAM_EXITED, PROGRAM_NOT_STARTED, PROGRAM_NOT_LOADED, PROGRAM_CRASHED };

inline ProgramEnd programEnd(int status)
{
    if (status == -1) return PROGRAM_NOT_STARTED;
#ifdef _WIN32
    // The loader's NTSTATUS values: a DLL missing, one of the other width or
    // not an image at all, a name or ordinal it does not export, its start-up
    // failing.
    static const uint32_t NOT_LOADED[] = { 0xC0000135u, 0xC000007Bu, 0xC000012Fu, 0xC0000130u, 0xC0000131u, 0xC0000139u,
        0xC0000138u, 0xC000007Au, 0xC0000142u, 0xC0000221u };
    uint32_t code = static_cast<uint32_t>(status);
    for (uint32_t notLoaded : NOT_LOADED) {
        if (code == notLoaded) return PROGRAM_NOT_LOADED;
    }
    // Any other error or warning NTSTATUS (0xC..., 0x8...) is an exception
    // nobody handled: an access violation, a breakpoint, a broken stack.
    if ((code & 0x80000000u) != 0) return PROGRAM_CRASHED;
#else
    // The dynamic loader ends a program whose libraries it cannot load with
    // 127; startAndWait reports a signal as 128 + its number.
    if (status == 127) return PROGRAM_NOT_LOADED;
    if (status > 128 && status < 128 + 65) return PROGRAM_CRASHED;
#endif
    return PROGRAM_EXITED;
}

} // namespace platform
