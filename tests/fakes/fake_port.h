// A programmable stand-in for the port library and the platform services,
// linked in place of the real ones. Every behaviour is a std::function that a
// test replaces in one line; the defaults model a healthy printer that
// accepts everything and reports online with nothing wrong.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "portlib/KelmorPort.h"

namespace fake {

struct Library {
    std::function<PortHandle(const char* name, const char* settings, uint32_t timeLimit)> open;
    std::function<VX_BOOL(PortHandle)> close;
    std::function<VX_BOOL(PortHandle, const void*, uint32_t size, uint32_t* written)> write;
    std::function<VX_BOOL(PortHandle, void*, uint32_t size, uint32_t* got)> read;
    std::function<VX_BOOL(PortHandle)> reset;
    std::function<VX_BOOL(PortHandle, VX_BOOL* online)> onlineStatus;
    // Fills a record of the given size (176 level-1, 144 old).
    std::function<VX_BOOL(PortHandle, unsigned char* record, uint32_t size)> parsedStatus;
    std::function<VX_BOOL(PortHandle, unsigned char* record)> beginBlock;
    std::function<VX_BOOL(PortHandle, unsigned char* record)> endBlock;

    // What the suite did: one entry per call, by operation name.
    std::vector<std::string> calls;
    std::vector<std::string> openedNames;
    std::vector<std::string> openedSettings;
    std::vector<uint32_t> openTimeLimits;
    // Handles currently open; a handle closed twice or never opened is counted.
    int openHandles = 0;
    int badCloses = 0;
    // Bytes of captured console output at each ClosePort (see Console).
    std::vector<long> closeOutputOffsets;
};

// Resets the library to its healthy defaults and the clock to `start`.
void reset(uint32_t start = 1000);
Library& library();

// The virtual clock behind platform::GetTickCount and platform::Sleep.
uint32_t now();
void advance(uint32_t milliseconds);
uint32_t& lastError();
// What platform::countHandles says the process holds; a test that leaks
// raises it.
uint32_t& handles();
// Run before each count of handles: a test's library releases late ones here.
std::function<void()>& beforeHandleCount();
std::function<int(const char* path, const char* const* argv)>& startAndWait();
// Total time the suite asked to sleep.
uint64_t slept();

// Fills a record with the given words set; everything else zero.
void setWord(unsigned char* record, uint32_t offset, VX_BOOL value);

size_t count(const std::string& operation);

// Expects the captured output to end in exactly one failure line whose text is
// `text`, printed after the one ClosePort, with no port left open.
void expectFailureAfterClose(const std::string& out, const std::string& text);

} // namespace fake
