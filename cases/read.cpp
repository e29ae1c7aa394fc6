#include <stdio.h>

#include "cases/cases.h"
#include "runner/harness.h"

bool testRead(const char*, const char*)
{
    printf("testRead\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testReadDisconnect(const char*, const char*)
{
    printf("testReadDisconnect\n");
    return failure(__LINE__, "test not built yet\n");
}
