// The port library boundary: the operations of KelmorPort that the suite
// calls and the status-record words it reads. Any build of the library that
// exports these C symbols can be dropped in beside the programs.
#pragma once

#include <stdint.h>
#include <string.h>

// Callers import nothing by attribute: the import library's stubs reach the
// DLL all the same, and the unit tests link the suite against fakes defined
// inside the test program, which an imported declaration could not reach.
#if defined(_WIN32)
#if defined(KELMORPORT_BUILDING)
#define KELMOR_API __declspec(dllexport)
#else
#define KELMOR_API
#endif
#elif defined(KELMORPORT_BUILDING)
#define KELMOR_API __attribute__((visibility("default")))
#else
#define KELMOR_API
#endif

// 32-bit Windows DLLs come in two calling conventions that their export
// tables cannot tell apart; the build picks one (KELMORPORT_CALLCONV) to match
// the vendor's. Definitions take it from these declarations. x86-64 has one
// convention only.
#if defined(_WIN32) && !defined(_WIN64) && defined(KELMORPORT_STDCALL)
#define KELMOR_CALL __stdcall
#else
#define KELMOR_CALL
#endif

// Library boolean: the suite tests operation results against VX_FALSE only.
typedef int32_t VX_BOOL;
#define VX_TRUE 1
#define VX_FALSE 0

typedef void* PortHandle;

// Record sizes the suite provides, and byte offsets of the 32-bit words it reads.
enum : uint32_t {
    VX_STATUS_LEVEL1_SIZE = 176,
    VX_STATUS_OLD_SIZE = 144,

    VX_OFFSET_COVER_OPEN = 0,
    VX_OFFSET_OFFLINE = 4,
    VX_OFFSET_PAPER_EMPTY_LEVEL1 = 52,
    VX_OFFSET_PAPER_EMPTY_OLD = 48,
    VX_OFFSET_SLIP_TOF = 76,
    VX_OFFSET_SLIP_COF = 80,
    VX_OFFSET_SLIP_BOF = 84,
    VX_OFFSET_VALIDATION_PAPER_PRESENCE = 88,
};

#define VX_STATUS_LEVEL_1 1u

extern "C" {
KELMOR_API PortHandle KELMOR_CALL OpenPortA(const char* portName, const char* portSettings, uint32_t timeLimit);
KELMOR_API VX_BOOL KELMOR_CALL ClosePort(PortHandle port);
KELMOR_API VX_BOOL KELMOR_CALL WritePort(PortHandle port, const void* bytes, uint32_t size, uint32_t* written);
KELMOR_API VX_BOOL KELMOR_CALL ReadPort(PortHandle port, void* buffer, uint32_t size, uint32_t* got);
KELMOR_API VX_BOOL KELMOR_CALL ResetDevice(PortHandle port);
KELMOR_API VX_BOOL KELMOR_CALL GetOnlineStatus(PortHandle port, VX_BOOL* online);
KELMOR_API VX_BOOL KELMOR_CALL GetParsedStatus(PortHandle port, void* oldRecord);
KELMOR_API VX_BOOL KELMOR_CALL GetParsedStatusEx(PortHandle port, void* record, uint32_t level);
KELMOR_API VX_BOOL KELMOR_CALL BeginCheckedBlockEx(PortHandle port, void* record, uint32_t level);
KELMOR_API VX_BOOL KELMOR_CALL EndCheckedBlockEx(PortHandle port, void* record, uint32_t level);
}

// Records are byte buffers filled by the library; words are read by offset so
// nothing depends on the library's alignment or on a struct layout.
inline VX_BOOL statusWord(const unsigned char* record, uint32_t offset)
{
    VX_BOOL word;
    memcpy(&word, record + offset, sizeof word);
    return word;
}
