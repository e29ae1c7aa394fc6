#include <stdio.h>

#include "cases/cases.h"
#include "runner/harness.h"

bool testWrite(const char*, const char*)
{
    printf("testWrite\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testWriteOfflineTimeout(const char*, const char*)
{
    printf("testWriteOfflineTimeout\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testWriteDisconnect(const char*, const char*)
{
    printf("testWriteDisconnect\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testTooMuchDataForParallelPort(const char*, const char*)
{
    printf("testTooMuchDataForParallelPort\n");
    return failure(__LINE__, "test not built yet\n");
}
