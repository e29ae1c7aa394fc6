// What every test procedure shares: the test table, the operator prompt, the
// failure line and the answer line after it, the buffers lent to the
// library, the payloads and the timed chunked write.
#pragma once

#include <stdint.h>

#include "portlib/KelmorPort.h"

typedef bool (*TestProcedure)(const char* portName, const char* portSettings);

const unsigned TEST_COUNT = 21;
extern const TestProcedure testProcedures[TEST_COUNT];
extern const char* const testNames[TEST_COUNT];

// Room for the operator's answers; longer answers are cut.
const unsigned ANSWER_SIZE = 256;

// --- console conventions ---------------------------------------------------

// Drops the keys typed ahead, prints the prompt and a newline, then waits for
// one character (Enter). The prompt is the step the answer line quotes.
void operatorPrompt(const char* text);

// Prints a line, its newline included, that asks the technician to act
// without waiting for Enter (the End Checked Block tests' NOW line); it is
// the step from then on.
void announce(const char* text);

// Asks what only the person at the printer can tell (did it restart? did a
// line come out?): prints the question, then " (y/n) ", and reads a line
// until it is a yes or a no. Nothing at end of input.
enum YesNo { SAID_NO, SAID_YES, SAID_NOTHING };
YesNo operatorSays(const char* question);

// Asks for a text such as a second name of the port: prints the question and
// reads one line (cut to fit). False for an empty answer, which skips the step.
bool operatorTypes(const char* question, char* buffer, unsigned size);

// Prints "note: " and the formatted text: what a library did that the
// contract leaves open, for the technician to know, never a failure.
void note(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// --- checks and what the library answered ------------------------------------
//
// Every failure line on standard output ("failure: line(N) ...") is followed
// by one line on standard error that says what the library answered:
//
//   answer(online): GetOnlineStatus returned VX_TRUE with online = 2
//       after "Make the printer online" (wanted 1)
//
// A step reads as its step list does:
//
//   operatorPrompt("Make the printer online, then hit enter");
//   PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
//   if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
//   if (noteCall("ResetDevice", ResetDevice(port)) == VX_FALSE)
//       return closeAndFail(port, { __LINE__, "reset" }, WANT_SUCCESS, "ResetDevice returned VX_FALSE\n");
//
// - Each check site names its check with a Check, written where the step list
//   puts it: { __LINE__, "online" }. The line is what the failure line
//   prints, so it must be the test's own line; the name is short, unique
//   within its test and the same from build to build, so records can group
//   failures across builds.
// - Every library call goes through something that notes its answer: the
//   lent-call wrappers below (statuses, writes, reads, flags) do it
//   themselves; openPort wraps OpenPortA; any other call is wrapped as
//   noteCall("ResetDevice", ResetDevice(port)), which returns the result.
//   noteValue adds a value the call gave (a flag, a count, a record word).
// - The failure helpers take the Check and a Wanted: which noted values the
//   check read (comma-separated names, "" for the result alone) and what it
//   wanted, in words. They print the failure line, then the answer line.
// Where the call gave the same answer before the current step, the line says
// the printer may not have been changed; a timed call says how long it took.

struct Check {
    unsigned line;
    const char* name;
};

struct Wanted {
    const char* values;
    const char* text;
};

const Wanted WANT_SUCCESS = { "", "success" };
const Wanted WANT_FAILURE = { "", "VX_FALSE" };
const Wanted WANT_HANDLE = { "last error", "a port handle" };

// Starts the answer to one call; returns `result` so a call can be wrapped.
VX_BOOL noteCall(const char* call, VX_BOOL result);
// A value the call gave, under the name a Wanted uses for it.
void noteValue(const char* name, uint32_t value);
// How long the call took, where a check looks at it.
void noteElapsed(uint32_t milliseconds);
// A program's exit status, as the answer of a test that starts one.
void noteExitStatus(const char* program, int status);
// OpenPortA, noting the handle and the last error.
PortHandle openPort(const char* portName, const char* portSettings, uint32_t timeLimit);
// Forgets every answer and step: the runner calls it before each test, so
// each starts with none.
void forgetAnswers();

// Prints "failure: line(<line>) " and the formatted text, then the answer
// line on standard error; returns false so a test can end with
// `return failure(...)`.
bool failure(Check check, const Wanted& wanted, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Closes the port first, then prints the two lines; returns false.
bool closeAndFail(PortHandle port, Check check, const Wanted& wanted, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// --- buffers lent to the library ---------------------------------------------

// Every record, count and flag the library is to fill is lent between two
// guards of a fixed pattern and holds the same pattern itself before each
// call: a word the library leaves unwritten reads as a value no answer has,
// and a library that writes outside what it was lent fails the test at that
// call instead of overwriting devbench's stack. Room for the old record
// written at the level-1 size, and more.
const uint32_t GUARD_SIZE = 256;
const unsigned char GUARD_BYTE = 0xA5;
// A 32-bit word as lent: a count or flag the library left unset reads so.
const uint32_t LENT_PATTERN = 0xA5A5A5A5u;

// The bytes that hold a lent buffer of `size` bytes and its two guards.
constexpr uint32_t guardedSize(uint32_t size) { return size + 2 * GUARD_SIZE; }

// Fills all guardedSize(size) bytes of the area with the pattern; returns the
// part that is lent, after the first guard.
unsigned char* lend(unsigned char* area, uint32_t size);
inline const unsigned char* lentPart(const unsigned char* area) { return area + GUARD_SIZE; }

enum LentDamage { LENT_WHOLE, LENT_WRITTEN_BEFORE, LENT_WRITTEN_PAST };
LentDamage lentDamage(const unsigned char* area, uint32_t size);

// Closes the port and prints "<call> wrote past the <size>-byte <what>" (or
// "before"); returns false.
bool failLent(PortHandle port, Check check, const char* call, LentDamage damage, uint32_t size, const char* what);

// After every call that was given the lent part: true when both guards are
// whole, else failLent.
bool checkLent(
    PortHandle port, Check check, const char* call, const unsigned char* area, uint32_t size, const char* what);

// A 32-bit count or flag lent to the library.
struct LentWord {
    alignas(8) unsigned char area[guardedSize(sizeof(uint32_t))];
};

uint32_t* lendCount(LentWord* word);
VX_BOOL* lendFlag(LentWord* word);
// What the library left in the word.
uint32_t lentValue(const LentWord& word);
inline LentDamage lentDamage(const LentWord& word) { return lentDamage(word.area, sizeof(uint32_t)); }
bool checkLent(PortHandle port, Check check, const char* call, const LentWord& word, const char* what);

// --- payloads ----------------------------------------------------------------

const uint32_t BULK_PAYLOAD_SIZE = 10240;
const uint32_t RASTER_JOB_SIZE = 120100;

// Built once before the banner, then only read.
extern const unsigned char* bulkPayload;
extern const unsigned char* rasterJob;

// Returns false when the buffers cannot be allocated.
bool preparePayloads();

// --- timed chunked write -----------------------------------------------------

const uint32_t WRITE_STALL_LIMIT_MS = 5000;

enum WriteOutcome {
    WRITE_ALL_WRITTEN,
    WRITE_RETURNED_FALSE,
    WRITE_STALLED,
    // The library claimed more bytes than it was offered.
    WRITE_COUNT_TOO_LARGE,
    // The library wrote outside the count it was lent.
    WRITE_BEFORE_COUNT,
    WRITE_PAST_COUNT,
};

WriteOutcome timedChunkedWrite(PortHandle port, const unsigned char* bytes, uint32_t total);

// One WritePort into a lent count, its answer noted: the outcome of a failed
// call or of damaged guards, else WRITE_ALL_WRITTEN with *written the count
// as reported, not yet compared with the size.
WriteOutcome lentWrite(PortHandle port, const void* bytes, uint32_t size, uint32_t* written);

// For a failed outcome: closes the port and prints the matching failure line
// with the caller's check; returns false. For WRITE_ALL_WRITTEN returns true
// and does nothing.
bool checkWriteOutcome(PortHandle port, Check check, WriteOutcome outcome);

// --- the operator dialogue ---------------------------------------------------

// Reads one start-up answer: everything up to the first tab or newline (cut
// to fit), then discards the character that ended it.
void readAnswer(char* buffer, unsigned size);

// Names on standard error the file whose code runs as the library, whatever
// the loader's search, a preloaded library or a link led to.
void nameLibrary();

// One program's menu: the banner it prints first and its table of tests.
struct SuiteTable {
    const char* banner;
    unsigned count;
    const TestProcedure* procedures;
    const char* const* names;
};

// The whole program after the payloads are built: banner, questions, menu
// loop over the suite's table. Returns the exit status.
int runDialogue(const SuiteTable& suite);
// devbench's own table of TEST_COUNT entries.
int runDialogue(const TestProcedure* procedures, const char* const* names);
