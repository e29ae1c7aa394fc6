#include <stdio.h>

#include "runner/harness.h"

int main()
{
    // The operator must see each line, and each prompt, as it is printed.
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!preparePayloads()) {
        fprintf(stderr, "devbench: cannot allocate the test payloads\n");
        return 2;
    }
    return runDialogue(testProcedures, testNames);
}
