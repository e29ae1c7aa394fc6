#include <stdio.h>

#include "cases/cases.h"
#include "platform/platform.h"
#include "runner/harness.h"

// ESC # * LF, and the terminating zero is sent too.
static const unsigned char FIRMWARE_QUERY[] = { 0x1B, 0x23, 0x2A, 0x0A, 0x00 };
static const uint32_t FIRMWARE_QUERY_SIZE = sizeof FIRMWARE_QUERY;

// The reply: ESC # * , then the name, then LF, then NUL.
static const unsigned char REPLY_HEAD[] = { 0x1B, 0x23, 0x2A, 0x2C };
static const unsigned NAME_STATE = sizeof REPLY_HEAD;
static const unsigned NAME_END_STATE = NAME_STATE + 1;
static const unsigned char NAME_END = 0x0A;
static const unsigned char REPLY_END = 0x00;

static const uint32_t READ_SIZE = 100;
static const unsigned MISMATCH_LIMIT = 50;
static const uint32_t READ_SILENCE_LIMIT_MS = 5000;
// A firmware name is a few dozen characters and comes within a second or
// two; a reply whose name never ends, fast or trickling, must still end the
// test with little on the console.
static const unsigned NAME_LENGTH_LIMIT = 1000;
static const uint32_t REPLY_TIME_LIMIT_MS = 20000;
// The failure lines name both limits, whole, so they can be looked up.
static_assert(NAME_LENGTH_LIMIT == 1000 && REPLY_TIME_LIMIT_MS == 20000, "the failure lines name the limits");
// Time the printer gets to answer before the first read of a phase.
static const uint32_t REPLY_WAIT_MS = 500;
// Empty reads allowed over both read phases of testReadDisconnect together.
static const unsigned EMPTY_READ_BUDGET = 2;

static const Wanted WANT_FIVE = { "count", "5" };
static const Wanted WANT_COUNT_IN_RANGE = { "count", "a count of at most 100" };
static const Wanted WANT_A_BYTE = { "count", "a byte within 5000 ms of the last" };
static const Wanted WANT_REPLY_IN_TIME = { "count", "the whole reply within 20 s of the query" };
static const Wanted WANT_SHORT_NAME = { "count", "a name of at most 1000 characters" };
static const Wanted WANT_REPLY = { "count", "the reply ESC # * , name LF NUL" };
static const Wanted WANT_BYTES_WITHIN_BUDGET = { "count", "bytes within 2 empty reads" };
static const Wanted WANT_NOTHING_READ = { "count", "VX_FALSE, or a count of 0" };
static_assert(
    READ_SIZE == 100 && READ_SILENCE_LIMIT_MS == 5000 && EMPTY_READ_BUDGET == 2, "the wanted texts name the limits");

struct ReplyParse {
    unsigned state;
    unsigned wrongCount;
    unsigned nameLength;
};

static bool sendQuery(PortHandle port, Check check)
{
    uint32_t written = 0;
    if (!checkWriteOutcome(port, check, lentWrite(port, FIRMWARE_QUERY, FIRMWARE_QUERY_SIZE, &written))) return false;
    if (written != FIRMWARE_QUERY_SIZE)
        return closeAndFail(port, check, WANT_FIVE, "Size Communicated was not equal to 5\n");
    return true;
}

enum ReadResult {
    READ_OK,
    READ_RETURNED_FALSE,
    // The port is closed and the failure line printed.
    READ_FAILED,
};

// One ReadPort of READ_SIZE bytes into the lent buffer (bytes at
// lentPart(bufferArea)) and a lent count, its answer noted: false, with the
// port closed and the line printed, when the library wrote outside either.
static bool lentRead(PortHandle port, unsigned char* bufferArea, Check check, VX_BOOL* result, uint32_t* got)
{
    LentWord count;
    *result = noteCall("ReadPort", ReadPort(port, lend(bufferArea, READ_SIZE), READ_SIZE, lendCount(&count)));
    noteValue("count", lentValue(count));
    if (!checkLent(port, check, "ReadPort", bufferArea, READ_SIZE, "buffer")) return false;
    if (!checkLent(port, check, "ReadPort", count, "count")) return false;
    *got = lentValue(count);
    return true;
}

// A count left unset reads as the guard's pattern, more than was asked for.
static ReadResult checkedRead(PortHandle port, unsigned char* bufferArea, uint32_t* got, Check check)
{
    VX_BOOL result = VX_FALSE;
    if (!lentRead(port, bufferArea, check, &result, got)) return READ_FAILED;
    if (result == VX_FALSE) return READ_RETURNED_FALSE;
    if (*got <= READ_SIZE) return READ_OK;
    // A larger count would send the parser past the end of the buffer.
    closeAndFail(port, check, WANT_COUNT_IN_RANGE, "ReadPort reported more bytes than it was asked for\n");
    return READ_FAILED;
}

// Feeds one reply byte to the parser; returns true when the reply is complete.
// A byte that breaks the pattern restarts it from the next byte, even if it
// was itself an ESC.
static bool parseReplyByte(unsigned char byte, ReplyParse* parse)
{
    if (parse->state < NAME_STATE) {
        if (byte == REPLY_HEAD[parse->state]) {
            ++parse->state;
            return false;
        }
    } else if (parse->state == NAME_STATE) {
        if (byte == NAME_END) {
            parse->state = NAME_END_STATE;
        } else {
            putchar(byte);
            ++parse->nameLength;
        }
        return false;
    } else if (byte == REPLY_END) {
        return true;
    }
    parse->state = 0;
    ++parse->wrongCount;
    return false;
}

bool testRead(const char* portName, const char* portSettings)
{
    printf("testRead\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!sendQuery(port, { __LINE__, "query" })) return false;
    uint32_t queriedAt = platform::GetTickCount();

    printf("device firmware name: ");
    ReplyParse parse = { 0, 0, 0 };
    uint32_t lastByteAt = queriedAt;
    unsigned char bufferArea[guardedSize(READ_SIZE)];
    const unsigned char* buffer = lentPart(bufferArea);
    // Checked only before a read, so every byte of a read is examined.
    while (parse.wrongCount < MISMATCH_LIMIT) {
        // Name characters keep the silence timer from running out, not this one.
        if (platform::GetTickCount() - queriedAt >= REPLY_TIME_LIMIT_MS)
            return closeAndFail(port, { __LINE__, "reply-time" }, WANT_REPLY_IN_TIME,
                "ReadPort did not complete the reply within 20 s of the query\n");
        uint32_t got = 0;
        ReadResult result = checkedRead(port, bufferArea, &got, { __LINE__, "read" });
        if (result == READ_FAILED) return false;
        if (result == READ_RETURNED_FALSE)
            return closeAndFail(port, { __LINE__, "read-result" }, WANT_SUCCESS, "ReadPort returned VX_FALSE\n");
        if (got == 0) {
            // No pause between empty reads, as in the timed write: the reply is
            // taken the moment it arrives, and the silence limit is the bound.
            if (platform::GetTickCount() - lastByteAt >= READ_SILENCE_LIMIT_MS)
                return closeAndFail(port, { __LINE__, "silence" }, WANT_A_BYTE, "ReadPort timed out\n");
            continue;
        }
        lastByteAt = platform::GetTickCount();
        for (uint32_t i = 0; i < got; ++i) {
            printf("%x\n", static_cast<unsigned>(buffer[i]));
            if (parseReplyByte(buffer[i], &parse)) {
                printf("\n");
                ClosePort(port);
                return true;
            }
            if (parse.nameLength > NAME_LENGTH_LIMIT)
                return closeAndFail(port, { __LINE__, "name-length" }, WANT_SHORT_NAME,
                    "ReadPort returned a firmware name of more than 1000 characters\n");
        }
    }
    // The operator sees the count before the port is released.
    failure({ __LINE__, "reply" }, WANT_REPLY, "ReadPort did not produce the expected response - wrongCount = %u\n",
        parse.wrongCount);
    printf("\n");
    ClosePort(port);
    return false;
}

// Reads until something arrives, spending the test's shared budget of empty
// reads.
static bool readPhase(PortHandle port, unsigned char* bufferArea, unsigned* emptyReads, Check check)
{
    for (;;) {
        uint32_t got = 0;
        ReadResult result = checkedRead(port, bufferArea, &got, check);
        if (result == READ_FAILED) return false;
        if (result == READ_RETURNED_FALSE)
            return closeAndFail(port, check, WANT_SUCCESS, "ReadPort returned VX_FALSE\n");
        if (got != 0) return true;
        if (*emptyReads >= EMPTY_READ_BUDGET)
            return closeAndFail(port, check, WANT_BYTES_WITHIN_BUDGET, "ReadPort timed out\n");
        ++*emptyReads;
    }
}

bool testReadDisconnect(const char* portName, const char* portSettings)
{
    printf("testReadDisconnect\n");
    unsigned emptyReads = 0;
    unsigned char bufferArea[guardedSize(READ_SIZE)];
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!sendQuery(port, { __LINE__, "query" })) return false;
    platform::Sleep(REPLY_WAIT_MS);
    if (!readPhase(port, bufferArea, &emptyReads, { __LINE__, "reply" })) return false;

    // Any count but 0 claims bytes from an unplugged printer, a count left
    // unset among them; the bytes are not looked at, so a large one is no
    // danger here.
    operatorPrompt("Disconnect the printer and hit enter");
    platform::Sleep(REPLY_WAIT_MS);
    VX_BOOL result = VX_FALSE;
    uint32_t got = 0;
    Check unplugged = { __LINE__, "unplugged" };
    if (!lentRead(port, bufferArea, unplugged, &result, &got)) return false;
    if (result != VX_FALSE && got != 0)
        return closeAndFail(port, unplugged, WANT_NOTHING_READ, "ReadPort did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (!sendQuery(port, { __LINE__, "query-again" })) return false;
    platform::Sleep(REPLY_WAIT_MS);
    if (!readPhase(port, bufferArea, &emptyReads, { __LINE__, "reply-again" })) return false;
    ClosePort(port);
    return true;
}
