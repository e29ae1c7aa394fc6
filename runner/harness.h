// What every test procedure shares: the test table, the operator prompt, the
// failure line, the payloads and the timed chunked write.
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

// Prints the prompt and a newline, then waits for one character (Enter).
void operatorPrompt(const char* text);

// Prints "failure: line(<line>) " followed by the formatted text; returns
// false so a test can end with `return failure(__LINE__, ...)`.
bool failure(unsigned line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Closes the port first, then prints the failure line; returns false.
bool closeAndFail(PortHandle port, unsigned line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// --- guarded status records --------------------------------------------------

// Bytes after each status record that the library must leave alone: a
// library that writes more than the record's size is caught by the test
// instead of overwriting its stack. Room for the old record written at the
// level-1 size, and more.
const uint32_t RECORD_GUARD_SIZE = 256;
const unsigned char RECORD_GUARD_BYTE = 0xA5;

// Zeroes the record, so a library that reports success without filling it
// is read as zeros rather than as whatever the stack held, and fills the
// guard after it. The buffer holds size + RECORD_GUARD_SIZE bytes.
void prepareRecord(unsigned char* record, uint32_t size);

// After every call that was given the record: when the guard was written,
// closes the port and prints "<call> wrote past the <size>-byte record" with
// the caller's source line, and returns false. Else returns true.
bool checkRecordGuard(PortHandle port, unsigned line, const char* call, const unsigned char* record, uint32_t size);

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
};

WriteOutcome timedChunkedWrite(PortHandle port, const unsigned char* bytes, uint32_t total);

// For a failed outcome: closes the port and prints the matching failure line
// with the caller's source line; returns false. For WRITE_ALL_WRITTEN returns
// true and does nothing.
bool checkWriteOutcome(PortHandle port, unsigned line, WriteOutcome outcome);

// --- the operator dialogue ---------------------------------------------------

// Reads one start-up answer: everything up to the first tab or newline (cut
// to fit), then discards the character that ended it.
void readAnswer(char* buffer, unsigned size);

// The whole program after the payloads are built: banner, questions, menu
// loop over the given table of TEST_COUNT entries. Returns the exit status.
int runDialogue(const TestProcedure* procedures, const char* const* names);
