// Windows hands a child one command line, not an argument vector; the child's
// C runtime splits it again. This joins entries so that the Microsoft C
// runtime gives back exactly the same entries. Pure text work, so it is
// tested on every platform.
#pragma once

#include <stddef.h>

namespace platform {

// Longest command line CreateProcess accepts, terminator included.
const size_t COMMAND_LINE_CAPACITY = 32768;

namespace cmdline {

inline bool put(char* line, size_t capacity, size_t& used, char c, size_t times = 1)
{
    // One byte stays free for the terminator.
    if (times >= capacity - used) return false;
    for (size_t i = 0; i < times; ++i) line[used++] = c;
    return true;
}

inline bool needsQuotes(const char* entry)
{
    if (*entry == '\0') return true;
    for (const char* c = entry; *c != '\0'; ++c) {
        if (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\v' || *c == '"') return true;
    }
    return false;
}

// The runtime reads the program name without escapes: quotes only group, so
// the name can be quoted but can never hold a quote itself.
inline bool putProgramName(char* line, size_t capacity, size_t& used, const char* name)
{
    bool quoted = needsQuotes(name);
    if (quoted && !put(line, capacity, used, '"')) return false;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == '"' || !put(line, capacity, used, *c)) return false;
    }
    return !quoted || put(line, capacity, used, '"');
}

// Backslashes are literal unless a quote follows them; only then must they
// be doubled, and the quote itself escaped. The closing quote counts too.
inline bool putArgument(char* line, size_t capacity, size_t& used, const char* entry)
{
    if (!needsQuotes(entry)) {
        for (const char* c = entry; *c != '\0'; ++c) {
            if (!put(line, capacity, used, *c)) return false;
        }
        return true;
    }
    if (!put(line, capacity, used, '"')) return false;
    const char* c = entry;
    for (;;) {
        size_t backslashes = 0;
        while (*c == '\\') {
            ++backslashes;
            ++c;
        }
        if (*c == '\0') return put(line, capacity, used, '\\', backslashes * 2) && put(line, capacity, used, '"');
        if (*c == '"') {
            if (!put(line, capacity, used, '\\', backslashes * 2 + 1)) return false;
        } else if (!put(line, capacity, used, '\\', backslashes)) {
            return false;
        }
        if (!put(line, capacity, used, *c)) return false;
        ++c;
    }
}

} // namespace cmdline

// Writes the command line for argv (ending with a null entry; the first entry
// is the program name) into line. Returns false, leaving line unusable, when
// the first entry holds a quote or the line does not fit in capacity bytes.
inline bool buildCommandLine(const char* const* argv, char* line, size_t capacity)
{
    if (capacity == 0 || argv[0] == nullptr) return false;
    size_t used = 0;
    if (!cmdline::putProgramName(line, capacity, used, argv[0])) return false;
    for (const char* const* entry = argv + 1; *entry != nullptr; ++entry) {
        if (!cmdline::put(line, capacity, used, ' ') || !cmdline::putArgument(line, capacity, used, *entry))
            return false;
    }
    line[used] = '\0';
    return true;
}

} // namespace platform
