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
// Time the printer gets to answer before the first read of a phase.
static const uint32_t REPLY_WAIT_MS = 500;
// Empty reads allowed over both read phases of testReadDisconnect together.
static const unsigned EMPTY_READ_BUDGET = 2;

static bool sendQuery(PortHandle port, uint32_t* written, unsigned line)
{
    if (WritePort(port, FIRMWARE_QUERY, FIRMWARE_QUERY_SIZE, written) == VX_FALSE)
        return closeAndFail(port, line, "WritePort returned VX_FALSE\n");
    if (*written != FIRMWARE_QUERY_SIZE) return closeAndFail(port, line, "Size Communicated was not equal to 5\n");
    return true;
}

// Feeds one reply byte to the parser; returns true when the reply is complete.
// A byte that breaks the pattern restarts it from the next byte, even if it
// was itself an ESC.
static bool parseReplyByte(unsigned char byte, unsigned* state, unsigned* wrongCount)
{
    if (*state < NAME_STATE) {
        if (byte == REPLY_HEAD[*state]) {
            ++*state;
            return false;
        }
    } else if (*state == NAME_STATE) {
        if (byte == NAME_END) {
            *state = NAME_END_STATE;
        } else {
            putchar(byte);
        }
        return false;
    } else if (byte == REPLY_END) {
        return true;
    }
    *state = 0;
    ++*wrongCount;
    return false;
}

bool testRead(const char* portName, const char* portSettings)
{
    printf("testRead\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    uint32_t written = 0;
    if (!sendQuery(port, &written, __LINE__)) return false;

    printf("device firmware name: ");
    unsigned state = 0;
    unsigned wrongCount = 0;
    uint32_t lastByteAt = platform::GetTickCount();
    // Checked only before a read, so every byte of a read is examined.
    while (wrongCount < MISMATCH_LIMIT) {
        unsigned char buffer[READ_SIZE];
        uint32_t got = 0;
        if (ReadPort(port, buffer, READ_SIZE, &got) == VX_FALSE)
            return closeAndFail(port, __LINE__, "ReadPort returned VX_FALSE\n");
        if (got > READ_SIZE)
            return closeAndFail(port, __LINE__, "ReadPort reported more bytes than it was asked for\n");
        if (got == 0) {
            // No pause between empty reads, as in the timed write: the reply is
            // taken the moment it arrives, and the silence limit is the bound.
            if (platform::GetTickCount() - lastByteAt >= READ_SILENCE_LIMIT_MS)
                return closeAndFail(port, __LINE__, "ReadPort timed out\n");
            continue;
        }
        lastByteAt = platform::GetTickCount();
        for (uint32_t i = 0; i < got; ++i) {
            printf("%x\n", static_cast<unsigned>(buffer[i]));
            if (parseReplyByte(buffer[i], &state, &wrongCount)) {
                printf("\n");
                ClosePort(port);
                return true;
            }
        }
    }
    // The operator sees the count before the port is released.
    failure(__LINE__, "ReadPort did not produce the expected response - wrongCount = %u\n", wrongCount);
    printf("\n");
    ClosePort(port);
    return false;
}

// Reads until something arrives, spending the test's shared budget of empty
// reads.
static bool readPhase(PortHandle port, unsigned* emptyReads, unsigned line)
{
    unsigned char buffer[READ_SIZE];
    uint32_t got = 0;
    for (;;) {
        if (ReadPort(port, buffer, READ_SIZE, &got) == VX_FALSE)
            return closeAndFail(port, line, "ReadPort returned VX_FALSE\n");
        if (got > READ_SIZE) return closeAndFail(port, line, "ReadPort reported more bytes than it was asked for\n");
        if (got != 0) return true;
        if (*emptyReads >= EMPTY_READ_BUDGET) return closeAndFail(port, line, "ReadPort timed out\n");
        ++*emptyReads;
    }
}

bool testReadDisconnect(const char* portName, const char* portSettings)
{
    printf("testReadDisconnect\n");
    unsigned emptyReads = 0;
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    uint32_t written = 0;
    if (!sendQuery(port, &written, __LINE__)) return false;
    platform::Sleep(REPLY_WAIT_MS);
    if (!readPhase(port, &emptyReads, __LINE__)) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    platform::Sleep(REPLY_WAIT_MS);
    unsigned char buffer[READ_SIZE];
    uint32_t got = 0;
    if (ReadPort(port, buffer, READ_SIZE, &got) != VX_FALSE) {
        if (got > READ_SIZE)
            return closeAndFail(port, __LINE__, "ReadPort reported more bytes than it was asked for\n");
        if (got != 0) return closeAndFail(port, __LINE__, "ReadPort did not fail as expected\n");
    }

    operatorPrompt("Connect the printer and hit enter");
    if (!sendQuery(port, &written, __LINE__)) return false;
    platform::Sleep(REPLY_WAIT_MS);
    if (!readPhase(port, &emptyReads, __LINE__)) return false;
    ClosePort(port);
    return true;
}
