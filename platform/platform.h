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

// Starts the program at path (relative to the current directory, never
// searched for) with argv as its argument entries, passed one by one without a
// shell, and waits for it. argv ends with a null entry. Returns the program's
// exit status, or -1 when it cannot be started.
int startAndWait(const char* path, const char* const* argv);

} // namespace platform
