#include <stdio.h>

#include "cases/cases.h"
#include "runner/harness.h"

bool testBeginCheckedBlock(const char*, const char*)
{
    printf("testBeginCheckedBlock\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testBeginCheckedBlockDisconnect(const char*, const char*)
{
    printf("testBeginCheckedBlockDisconnect\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testEndCheckedBlockRaster(const char*, const char*)
{
    printf("testEndCheckedBlock\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testEndCheckedBlockAscii(const char*, const char*)
{
    printf("testEndCheckedBlock\n");
    return failure(__LINE__, "test not built yet\n");
}
