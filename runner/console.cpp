#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"
#include "runner/extended_texts.h"
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

// The answer's line, without its end; false at end of input with nothing read.
static bool readLine(char* buffer, unsigned size)
{
    unsigned length = 0;
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
        if (length + 1 < size) buffer[length++] = static_cast<char>(c);
    }
    // A Windows console ends the line with CR LF.
    if (length > 0 && buffer[length - 1] == '\r') --length;
    buffer[length] = '\0';
    return c != EOF || length > 0;
}

static bool sameWord(const char* answer, const char* word)
{
    for (; *answer != '\0' && *word != '\0'; ++answer, ++word) {
        if (tolower(static_cast<unsigned char>(*answer)) != *word) return false;
    }
    return *answer == '\0' && *word == '\0';
}

YesNo operatorSays(const char* question)
{
    char answer[ANSWER_SIZE];
    for (;;) {
        printf("%s%s", question, EXT_YES_NO_END);
        fflush(stdout);
        platform::discardTypedKeys();
        if (!readLine(answer, sizeof answer)) {
            printf("\n");
            return SAID_NOTHING;
        }
        if (sameWord(answer, "y") || sameWord(answer, "yes")) return SAID_YES;
        if (sameWord(answer, "n") || sameWord(answer, "no")) return SAID_NO;
        printf("Please answer y (yes) or n (no).\n");
    }
}

bool operatorTypes(const char* question, char* buffer, unsigned size)
{
    printf("%s", question);
    fflush(stdout);
    platform::discardTypedKeys();
    readAnswer(buffer, size);
    return buffer[0] != '\0';
}

void note(const char* format, ...)
{
    printf("note: ");
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
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
