#include <ctype.h>
#include <stdio.h>

#include "platform/platform.h"
#include "runner/harness.h"
#include "runner/stderr_lines.h"

void readAnswer(char* buffer, unsigned size)
{
    unsigned length = 0;
    int c;
    while ((c = platform::readKey()) != EOF && c != '\t' && c != '\n') {
        if (length + 1 < size) buffer[length++] = static_cast<char>(c);
    }
    if (size > 0) buffer[length] = '\0';
}

// Behaves like scanf("%2s") followed by one discarded character. Returns
// false at end of input, so the menu never acts on a stale choice.
static bool readChoice(char* choice)
{
    int c;
    do {
        c = platform::readKey();
    } while (c != EOF && isspace(c));
    if (c == EOF) return false;
    choice[0] = static_cast<char>(c);
    choice[1] = '\0';
    c = platform::readKey();
    if (c != EOF && !isspace(c)) {
        choice[1] = static_cast<char>(c);
        choice[2] = '\0';
        platform::readKey();
    }
    return true;
}

// An optional sign, then decimal digits as far as they go; no digits gives 0.
static int choiceNumber(const char* choice)
{
    int sign = 1;
    if (*choice == '+' || *choice == '-') {
        if (*choice == '-') sign = -1;
        ++choice;
    }
    int value = 0;
    while (isdigit(static_cast<unsigned char>(*choice))) value = value * 10 + (*choice++ - '0');
    return sign * value;
}

// A program reading devbench through pipes gets the library's words in no
// fixed order with the output: these lines say which test they belong to.
static void runTest(const TestProcedure* procedures, unsigned number, const char* portName, const char* portSettings)
{
    bool marked = !platform::stderrIsTerminal();
    if (marked) fprintf(stderr, STDERR_TEST_BEGINS, number);
    forgetAnswers();
    procedures[number](portName, portSettings);
    if (marked) fprintf(stderr, STDERR_TEST_ENDED, number);
    printf("\n");
}

int runDialogue(const TestProcedure* procedures, const char* const* names)
{
    return runDialogue(SuiteTable { "devbench", TEST_COUNT, procedures, names });
}

int runDialogue(const SuiteTable& suite)
{
    static char portName[ANSWER_SIZE];
    static char portSettings[ANSWER_SIZE];

    printf("%s\n", suite.banner);
    printf("Enter the port name: ");
    readAnswer(portName, ANSWER_SIZE);
    printf("\n");
    printf("Enter the port settings: ");
    readAnswer(portSettings, ANSWER_SIZE);
    printf("\n");

    for (;;) {
        printf("Available tests:\n");
        for (unsigned i = 0; i < suite.count; ++i) printf("%u - %s\n", i, suite.names[i]);
        printf("\n");
        printf("Enter the test number to execute, or a for all, or e for exit: ");
        char choice[3] = { 0, 0, 0 };
        bool answered = readChoice(choice);
        printf("\n\n");
        if (!answered || choice[0] == 'e') return 0;
        if (choice[0] == 'a') {
            for (unsigned i = 0; i < suite.count; ++i) runTest(suite.procedures, i, portName, portSettings);
        } else {
            unsigned number = static_cast<unsigned>(choiceNumber(choice));
            if (number < suite.count) runTest(suite.procedures, number, portName, portSettings);
        }
        printf("\n");
    }
}
