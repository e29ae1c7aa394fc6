// Starts itself through platform::startAndWait with awkward entries; the
// child checks that each entry arrived whole, so the whole road (our quoting,
// CreateProcess, the C runtime's splitting) is tested, not just the quoting.
// Run from the directory that holds it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace {

const char* const SELF = "argv_check.exe";
const unsigned MAX_ENTRIES = 8;

// Each list ends with a null entry.
const char* const CASES[][MAX_ENTRIES] = {
    { "COM1", "baud=9600", nullptr },
    { "port with blanks", "settings\twith a tab", nullptr },
    { "", "", nullptr },
    { "say \"hi\"", "\"", "\"\"", "\" \"", nullptr },
    { "trailing\\", "two\\\\", "C:\\dir with blank\\", nullptr },
    { "back\\\"quote", "\\\\\"", "a\\\\b c", "\\\"\\", nullptr },
    { "127.0.0.1:9100aReallyHorriblyBadSuffix", "", ".", nullptr },
};
const unsigned CASE_COUNT = sizeof CASES / sizeof CASES[0];

int childRole(int argc, char** argv)
{
    unsigned index = static_cast<unsigned>(atoi(argv[2]));
    if (index >= CASE_COUNT || strcmp(argv[0], SELF) != 0) return 2;
    int expected = 3;
    const char* const* entries = CASES[index];
    for (; *entries != nullptr; ++entries, ++expected) {
        if (expected >= argc || strcmp(argv[expected], *entries) != 0) {
            printf("case %u: entry %d is [%s], expected [%s]\n", index, expected - 3,
                expected < argc ? argv[expected] : "(missing)", *entries);
            return 1;
        }
    }
    if (expected != argc) {
        printf("case %u: %d entries, expected %d\n", index, argc - 3, expected - 3);
        return 1;
    }
    return 0;
}

unsigned failures = 0;

void expectStatus(const char* what, int status, int expected)
{
    if (status == expected) return;
    printf("failed: %s: status %d, expected %d\n", what, status, expected);
    ++failures;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && strcmp(argv[1], "child") == 0) return childRole(argc, argv);
    if (argc == 3 && strcmp(argv[1], "exit") == 0) return atoi(argv[2]);

    for (unsigned i = 0; i < CASE_COUNT; ++i) {
        char index[16];
        snprintf(index, sizeof index, "%u", i);
        const char* list[MAX_ENTRIES + 3] = { SELF, "child", index };
        unsigned n = 3;
        for (const char* const* entry = CASES[i]; *entry != nullptr; ++entry) list[n++] = *entry;
        list[n] = nullptr;
        char what[32];
        snprintf(what, sizeof what, "entries of case %u", i);
        expectStatus(what, platform::startAndWait(SELF, list), 0);
    }

    const char* const exitSeven[] = { SELF, "exit", "7", nullptr };
    expectStatus("exit status of the child", platform::startAndWait(SELF, exitSeven), 7);

    const char* const missing[] = { "no-such-program.exe", nullptr };
    expectStatus("a missing program", platform::startAndWait("no-such-program.exe", missing), -1);

    // cmd.exe lies on the search path but not in the current directory.
    const char* const searched[] = { "cmd.exe", "/c", "exit 0", nullptr };
    expectStatus("a program found only by searching", platform::startAndWait("cmd.exe", searched), -1);

    // No command line can carry a quote inside the program name.
    const char* const quotedName[] = { "argv\"check.exe", "exit", "0", nullptr };
    expectStatus("a quote in the program name", platform::startAndWait(SELF, quotedName), -1);

    printf("argv_check: %u failed\n", failures);
    return failures == 0 ? 0 : 1;
}
