#include <stdio.h>
#include <string.h>

#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_table.h"
#include "runner/harness.h"

static const char HELP[]
    = "usage: devbench-extended\n"
      "The extended procedures for the KelmorPort library, run after devbench at the same printer:\n"
      "the lock, refusals and handles, disconnect and reconnect, reset and idle, status records with\n"
      "the cover, the paper and the Online key apart, checked blocks, reads and writes. Same dialogue\n"
      "as devbench (port name, settings, a number, a for all, e to leave); some procedures ask y/n\n"
      "questions only a person can answer. Start it where holdprobe is.\n";

int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf("%s", HELP);
        return 0;
    }
    // A copy started by a procedure that holds the port: it only waits.
    if (argc == 2 && strcmp(argv[1], EXT_LINGER_ARGUMENT) == 0) {
        platform::Sleep(EXT_LINGER_MS);
        return 0;
    }
    platform::quietCrashes();
    // The operator must see each line, and each prompt, as it is printed.
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!platform::libraryBesideProgram("devbench-extended")) return 2;
    nameLibrary();
    platform::readKeysOneAtATime();
    if (!preparePayloads()) {
        fprintf(stderr, "devbench-extended: cannot allocate the test payloads\n");
        return 2;
    }
    return runDialogue(SuiteTable { "devbench-extended", EXTENDED_COUNT, extendedProcedures, extendedNames });
}
