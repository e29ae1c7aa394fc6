#include <gtest/gtest.h>

#include <string>

#include "platform/win_cmdline.h"

namespace {

struct Joined {
    const char* entries[5];
    const char* line;
};

// Each line is what the Microsoft C runtime splits back into the entries.
const Joined JOINED[] = {
    { { "holdprobe.exe", "COM1", "baud=9600", nullptr }, "holdprobe.exe COM1 baud=9600" },
    { { "holdprobe.exe", "port with blanks", "a\tb", nullptr }, "holdprobe.exe \"port with blanks\" \"a\tb\"" },
    { { "holdprobe.exe", "", "", nullptr }, "holdprobe.exe \"\" \"\"" },
    { { "dir with blank\\probe.exe", ".", nullptr }, "\"dir with blank\\probe.exe\" ." },
    // Backslashes stay single unless a quote, written or closing, follows.
    { { "p.exe", "C:\\dir\\", "C:\\a b\\", nullptr }, "p.exe C:\\dir\\ \"C:\\a b\\\\\"" },
    { { "p.exe", "say \"hi\"", "\"", nullptr }, "p.exe \"say \\\"hi\\\"\" \"\\\"\"" },
    { { "p.exe", "a\\\"b", "a\\\\b", nullptr }, "p.exe \"a\\\\\\\"b\" a\\\\b" },
};

TEST(WinCommandLine, EntriesComeBackWholeFromTheRuntimesSplitting)
{
    for (const Joined& joined : JOINED) {
        char line[256];
        ASSERT_TRUE(platform::buildCommandLine(joined.entries, line, sizeof line)) << joined.line;
        EXPECT_EQ(std::string(line), joined.line);
    }
}

TEST(WinCommandLine, RefusesWhatCannotBeCarried)
{
    char line[32];
    const char* const quotedName[] = { "a\"b.exe", "x", nullptr };
    EXPECT_FALSE(platform::buildCommandLine(quotedName, line, sizeof line));

    // "p.exe x" needs 8 bytes with its terminator; one less must not overrun.
    const char* const fits[] = { "p.exe", "x", nullptr };
    EXPECT_TRUE(platform::buildCommandLine(fits, line, 8));
    char guarded[9];
    guarded[7] = '#';
    EXPECT_FALSE(platform::buildCommandLine(fits, guarded, 7));
    EXPECT_EQ(guarded[7], '#');
    // Escapes that grow the entry count against the room too.
    const char* const escaped[] = { "p.exe", "\\\\\\\\\"", nullptr };
    EXPECT_FALSE(platform::buildCommandLine(escaped, line, 16));
}

} // namespace
