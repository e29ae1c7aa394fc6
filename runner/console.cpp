#include <stdarg.h>
#include <stdio.h>

#include "runner/harness.h"

void operatorPrompt(const char* text)
{
    printf("%s", text);
    printf("\n");
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

void readAnswer(char* buffer, unsigned size)
{
    unsigned length = 0;
    int c;
    while ((c = getchar()) != EOF && c != '\t' && c != '\n') {
        if (length + 1 < size) buffer[length++] = static_cast<char>(c);
    }
    if (size > 0) buffer[length] = '\0';
}
