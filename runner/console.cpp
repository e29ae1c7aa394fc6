#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"
#include "runner/answers.h"
#include "runner/harness.h"

void operatorPrompt(const char* text)
{
    // Dropped before the prompt shows, never after: an answer sent the moment
    // the prompt appears must stay to be read, while an Enter pressed too
    // early (at a step that waits for none) must not answer this prompt unread.
    platform::discardTypedKeys();
    printf("%s", text);
    printf("\n");
    fflush(stdout);
    noteStep(text);
    platform::readKey();
}

void announce(const char* text)
{
    printf("%s", text);
    fflush(stdout);
    noteStep(text);
}

static void printFailure(unsigned line, const char* format, va_list args)
{
    printf("failure: line(%u) ", line);
    vprintf(format, args);
    fflush(stdout);
}

bool failure(Check check, const Wanted& wanted, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printFailure(check.line, format, args);
    va_end(args);
    printAnswer(check, wanted);
    return false;
}

bool closeAndFail(PortHandle port, Check check, const Wanted& wanted, const char* format, ...)
{
    ClosePort(port);
    va_list args;
    va_start(args, format);
    printFailure(check.line, format, args);
    va_end(args);
    printAnswer(check, wanted);
    return false;
}
