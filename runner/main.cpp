#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "runner/harness.h"

static const char HELP[] = "usage: devbench\n"
                           "The acceptance suite for the KelmorPort library. It takes no options: it asks for\n"
                           "the port name and the port settings, then offers a menu of 21 tests (a number, a for\n"
                           "all, e to leave). A test that passes prints only its banner and its prompts; a failed\n"
                           "check prints \"failure: line(N) ...\". Start it where holdprobe is: Test Port Locking\n"
                           "starts holdprobe from the current directory.\n";

int main(int argc, char** argv)
{
    // Answered before the dialogue starts; any other argument is ignored, as always.
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf("%s", HELP);
        return 0;
    }
    platform::quietCrashes();
    // The operator must see each line, and each prompt, as it is printed.
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!platform::libraryBesideProgram("devbench")) return 2;
    nameLibrary();
    platform::readKeysOneAtATime();
    if (!preparePayloads()) {
        fprintf(stderr, "devbench: cannot allocate the test payloads\n");
        return 2;
    }
    return runDialogue(testProcedures, testNames);
}
