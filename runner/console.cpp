#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"
#include "runner/answers.h"
#include "runner/extended_texts.h"
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

// The answer's line, without its end; false at end of input with nothing read.
static bool readLine(char* buffer, unsigned size)
{
    unsigned length = 0;
    int c;
    while ((c = platform::readKey()) != EOF && c != '\n') {
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
        platform::discardTypedKeys();
        printf("%s%s", question, EXT_YES_NO_END);
        fflush(stdout);
        noteStep(question);
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
    platform::discardTypedKeys();
    printf("%s", question);
    fflush(stdout);
    noteStep(question);
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
