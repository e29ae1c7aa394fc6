// What the library answered at each call, kept so the line after a failure
// can say it: per call, its latest answer and its last one from an earlier
// step, so an answer that did not change across a prompt can be told.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "runner/answers.h"
#include "runner/harness.h"
#include "runner/stderr_lines.h"

namespace {

enum AnswerKind { ANSWER_RESULT, ANSWER_HANDLE, ANSWER_EXIT_STATUS };

// A record's seven words and a little more.
const unsigned MAX_VALUES = 8;
// More different calls than any test makes.
const unsigned MAX_CALLS = 12;
const size_t LINE_CAPACITY = 768;

struct NotedValue {
    const char* name;
    uint32_t value;
};

struct Answer {
    AnswerKind kind;
    int32_t result;
    unsigned step;
    unsigned valueCount;
    NotedValue values[MAX_VALUES];
    bool timed;
    uint32_t elapsedMs;
};

struct CallAnswers {
    const char* call;
    bool answered;
    Answer latest;
    bool hasEarlier;
    Answer earlier;
};

CallAnswers calls[MAX_CALLS];
unsigned callCount = 0;
CallAnswers* current = nullptr;
const char* stepText = nullptr;
unsigned stepNumber = 0;

CallAnswers* slotFor(const char* call)
{
    for (unsigned i = 0; i < callCount; ++i) {
        if (strcmp(calls[i].call, call) == 0) return &calls[i];
    }
    // A test that made more kinds of call than this reuses the last place.
    CallAnswers* slot = &calls[callCount < MAX_CALLS ? callCount++ : MAX_CALLS - 1];
    memset(slot, 0, sizeof *slot);
    slot->call = call;
    return slot;
}

void startAnswer(const char* call, AnswerKind kind, int32_t result)
{
    CallAnswers* slot = slotFor(call);
    // The last answer of an earlier step is what a prompt should have changed.
    if (slot->answered && slot->latest.step < stepNumber) {
        slot->earlier = slot->latest;
        slot->hasEarlier = true;
    }
    slot->answered = true;
    memset(&slot->latest, 0, sizeof slot->latest);
    slot->latest.kind = kind;
    slot->latest.result = result;
    slot->latest.step = stepNumber;
    current = slot;
}

bool sameAnswer(const Answer& a, const Answer& b)
{
    if (a.kind != b.kind || a.result != b.result || a.valueCount != b.valueCount) return false;
    for (unsigned i = 0; i < a.valueCount; ++i) {
        if (strcmp(a.values[i].name, b.values[i].name) != 0 || a.values[i].value != b.values[i].value) return false;
    }
    return true;
}

void append(char* line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Room is kept for the newline, so a long line is cut but still ends.
void append(char* line, const char* format, ...)
{
    size_t used = strlen(line);
    if (used + 2 >= LINE_CAPACITY) return;
    va_list args;
    va_start(args, format);
    vsnprintf(line + used, LINE_CAPACITY - 1 - used, format, args);
    va_end(args);
}

void appendValue(char* line, const NotedValue& noted, bool first)
{
    uint32_t value = noted.value;
    int32_t signedValue = static_cast<int32_t>(value);
    append(line, "%s%s = ", first ? " with " : ", ", noted.name);
    if (value == LENT_PATTERN) {
        append(line, "0x%08X (left unset)", static_cast<unsigned>(value));
    } else if (signedValue >= -65536) {
        append(line, "%d", static_cast<int>(signedValue));
    } else {
        append(line, "%u", static_cast<unsigned>(value));
    }
}

// The values named in `names` (comma-separated), in the order named.
void appendValues(char* line, const Answer& answer, const char* names)
{
    bool first = true;
    while (*names != '\0') {
        while (*names == ',' || *names == ' ') ++names;
        size_t length = strcspn(names, ",");
        while (length > 0 && names[length - 1] == ' ') --length;
        for (unsigned i = 0; i < answer.valueCount && length > 0; ++i) {
            if (strncmp(answer.values[i].name, names, length) == 0 && answer.values[i].name[length] == '\0') {
                appendValue(line, answer.values[i], first);
                first = false;
            }
        }
        names += length;
    }
}

void appendResult(char* line, const char* call, const Answer& answer)
{
    if (answer.kind == ANSWER_EXIT_STATUS) {
        append(line, "%s ended with status %d", call, static_cast<int>(answer.result));
    } else if (answer.kind == ANSWER_HANDLE) {
        append(line, "%s returned %s", call, answer.result != 0 ? "a handle" : "NULL");
    } else if (answer.result == VX_FALSE || answer.result == VX_TRUE) {
        append(line, "%s returned %s", call, answer.result == VX_TRUE ? "VX_TRUE" : "VX_FALSE");
    } else {
        append(line, "%s returned %d", call, static_cast<int>(answer.result));
    }
}

// The prompt without its closing instruction: what the technician was to make.
void appendStep(char* line)
{
    if (stepText == nullptr) return;
    static const char* const ENDINGS[] = { ", then hit enter", " and hit enter", ", then press enter" };
    size_t length = strcspn(stepText, "\n");
    for (const char* ending : ENDINGS) {
        size_t endingLength = strlen(ending);
        if (length > endingLength && strncmp(stepText + length - endingLength, ending, endingLength) == 0) {
            length -= endingLength;
            break;
        }
    }
    append(line, " after \"%.*s\"", static_cast<int>(length), stepText);
}

} // namespace

VX_BOOL noteCall(const char* call, VX_BOOL result)
{
    startAnswer(call, ANSWER_RESULT, result);
    return result;
}

void noteValue(const char* name, uint32_t value)
{
    if (current == nullptr || current->latest.valueCount == MAX_VALUES) return;
    NotedValue& noted = current->latest.values[current->latest.valueCount++];
    noted.name = name;
    noted.value = value;
}

void noteElapsed(uint32_t milliseconds)
{
    if (current == nullptr) return;
    current->latest.timed = true;
    current->latest.elapsedMs = milliseconds;
}

void noteExitStatus(const char* program, int status) { startAnswer(program, ANSWER_EXIT_STATUS, status); }

PortHandle openPort(const char* portName, const char* portSettings, uint32_t timeLimit)
{
    PortHandle port = OpenPortA(portName, portSettings, timeLimit);
    // Read at once, before anything else can change it.
    uint32_t lastError = platform::GetLastError();
    startAnswer("OpenPortA", ANSWER_HANDLE, port != nullptr ? 1 : 0);
    noteValue("last error", lastError);
    return port;
}

void forgetAnswers()
{
    callCount = 0;
    current = nullptr;
    stepText = nullptr;
    stepNumber = 0;
}

void noteStep(const char* text)
{
    stepText = text;
    ++stepNumber;
}

void printAnswer(Check check, const Wanted& wanted)
{
    char line[LINE_CAPACITY];
    snprintf(line, sizeof line, "%s%s): ", STDERR_ANSWER_PREFIX, check.name);
    if (current == nullptr) {
        append(line, "no call answered yet");
    } else {
        const Answer& answer = current->latest;
        appendResult(line, current->call, answer);
        appendValues(line, answer, wanted.values);
    }
    appendStep(line);
    append(line, " (wanted %s)", wanted.text);
    if (current != nullptr) {
        const Answer& answer = current->latest;
        if (current->hasEarlier && current->earlier.step < answer.step && sameAnswer(current->earlier, answer))
            append(line, "; it answered the same before this step: the printer may not have been changed");
        if (answer.timed) append(line, "; %s took %u ms", current->call, static_cast<unsigned>(answer.elapsedMs));
    }
    strcat(line, "\n");
    // One write, so a reader of the stream gets the line whole.
    fputs(line, stderr);
    fflush(stderr);
}
