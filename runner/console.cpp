#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"
#include "runner/harness.h"

void operatorPrompt(const char* text)
{
    printf("%s", text);
    printf("\n");
    fflush(stdout);
    // An Enter pressed too early (at a step that waits for none) would
    // answer this prompt unread, and every later answer would land a step early.
    platform::discardTypedKeys();
    getchar();
}

static void printFailure(unsigned line, const char* format, va_list args)
{
    printf("failure: line(%u) ", line);
    vprintf(format, args);
}

bool failure(unsigned line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printFailure(line, format, args);
    va_end(args);
    return false;
}

bool closeAndFail(PortHandle port, unsigned line, const char* format, ...)
{
    ClosePort(port);
    va_list args;
    va_start(args, format);
    printFailure(line, format, args);
    va_end(args);
    return false;
}
