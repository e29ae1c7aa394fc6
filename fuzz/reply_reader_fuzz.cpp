// The firmware-reply reader of Test Read and Test Read Disconnect against a
// library whose reads serve arbitrary bytes, split anyhow, with counts above
// the 100-byte buffer, failed reads and time passing between them.
//
// Input: one byte of options, then reads, each a control byte, a length
// byte and that many reply bytes (at most 100). Control bits: 0x01 the read
// fails; 0x02 the count claims more than the buffer; the upper six bits are
// the read's duration in tenths of a second. Once the input runs out every
// read is empty and takes a second, so a reader waiting for more ends.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/fake_port.h"

namespace {

const uint8_t OPTION_DISCONNECT_TEST = 0x01;
const uint8_t OPTION_SHORT_QUERY_WRITE = 0x02;
const uint8_t READ_FAILS = 0x01;
const uint8_t COUNT_TOO_LARGE = 0x02;
const uint32_t BUFFER_SIZE = 100;
// An endless stream of empty reads would be a hang: the reader's silence
// limit is a few seconds of the virtual clock.
const unsigned MAX_EMPTY_READS_AFTER_INPUT = 1000;

const uint8_t* input;
size_t inputLeft;
unsigned emptyReadsAfterInput;

VX_BOOL serveRead(void* buffer, uint32_t size, uint32_t* got)
{
    if (size != BUFFER_SIZE) abort();
    if (inputLeft < 2) {
        if (++emptyReadsAfterInput > MAX_EMPTY_READS_AFTER_INPUT) {
            fprintf(stderr, "reply_reader_fuzz: the reader does not stop on silence\n");
            abort();
        }
        fake::advance(1000);
        *got = 0;
        return VX_TRUE;
    }
    uint8_t control = input[0];
    size_t length = input[1];
    input += 2;
    inputLeft -= 2;
    if (length > inputLeft) length = inputLeft;
    if (length > size) length = size;
    memcpy(buffer, input, length);
    input += length;
    inputLeft -= length;
    fake::advance((control >> 2) * 100u);
    *got = static_cast<uint32_t>(length);
    if (control & COUNT_TOO_LARGE) *got = size + 1 + (control >> 2) * 0x4000000u;
    return control & READ_FAILS ? VX_FALSE : VX_TRUE;
}

std::string capturedOutput()
{
    fflush(stdout);
    off_t end = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    std::string text(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    if (!text.empty() && pread(STDOUT_FILENO, &text[0], text.size(), 0) != static_cast<ssize_t>(text.size())) abort();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Prompts find the end of input at once; the output goes to a file so
    // the place of each close can be compared with the failure line.
    if (freopen("/dev/null", "r", stdin) == nullptr) abort();
    FILE* out = tmpfile();
    if (out == nullptr || dup2(fileno(out), STDOUT_FILENO) < 0) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    uint8_t options = data[0];
    input = data + 1;
    inputLeft = size - 1;
    emptyReadsAfterInput = 0;

    fake::reset();
    fake::library().write = [options](PortHandle, const void*, uint32_t size, uint32_t* written) {
        *written = options & OPTION_SHORT_QUERY_WRITE ? size - 1 : size;
        return VX_TRUE;
    };
    fake::library().read
        = [](PortHandle, void* buffer, uint32_t size, uint32_t* got) { return serveRead(buffer, size, got); };

    fflush(stdout);
    if (ftruncate(STDOUT_FILENO, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) abort();
    clearerr(stdin);
    bool passed = options & OPTION_DISCONNECT_TEST ? testReadDisconnect("COM1", "") : testRead("COM1", "");
    std::string out = capturedOutput();

    const fake::Library& lib = fake::library();
    if (lib.openHandles != 0 || lib.badCloses != 0 || fake::count("ClosePort") != 1) abort();
    for (const std::string& call : lib.calls) {
        if (call.compare(0, 11, "BAD-HANDLE:") == 0) abort();
    }
    // A pass prints no failure line; a failure prints exactly one, after the
    // close but for the mismatch limit, which prints first.
    size_t at = out.find("failure: line(");
    if (passed != (at == std::string::npos)) abort();
    if (at != std::string::npos) {
        if (out.find("failure: line(", at + 1) != std::string::npos) abort();
        long close = lib.closeOutputOffsets.back();
        bool printsFirst = out.find("wrongCount", at) != std::string::npos;
        if (printsFirst ? close <= static_cast<long>(at) : close > static_cast<long>(at)) abort();
    }
    return 0;
}
