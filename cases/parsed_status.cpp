#include <stdio.h>

#include "cases/cases.h"
#include "runner/harness.h"

bool testGetParsedStatus(const char*, const char*)
{
    printf("testGetParsedStatus\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testOldGetParsedStatus(const char*, const char*)
{
    printf("testOldGetParsedStatus\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testGetParsedStatusDisconnect(const char*, const char*)
{
    printf("testGetParsedStatusDisconnect\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testHybridGetParsedStatus(const char*, const char*)
{
    printf("testHybridGetParsedStatus\n");
    return failure(__LINE__, "test not built yet\n");
}
