// What the extended procedures share: a status record's words checked
// exactly, by any of the four calls that fill one; holdprobe's child role
// started from any folder; the firmware reply read in pieces of any size;
// lines of text. Each takes the procedure's own Check, so a failure line
// points into the procedure that failed.
#pragma once

#include <stdint.h>

#include "cases/status_steps.h"
#include "portlib/KelmorPort.h"
#include "runner/harness.h"

// The words a state fixes for any printer: coverOpen, offline, paperEmpty.
struct CoverPaperOnline {
    VX_BOOL coverOpen;
    VX_BOOL offline;
    VX_BOOL paperEmpty;
};

const CoverPaperOnline PRINTER_READY = { 0, 0, 0 };

// The record must hold exactly these words, each where the call's layout
// keeps it; else the port is closed and a line names the call and the word.
bool expectWords(
    PortHandle port, const StatusQuery& query, const unsigned char* record, CoverPaperOnline want, Check check);

// The call must succeed and its record hold exactly `want`.
bool expectStatus(PortHandle port, const StatusQuery& query, CoverPaperOnline want, Check check);

// holdprobe's child role on `name` from `folder` (null: the current one):
// true when it was refused with the held code. Anything else closes the
// port and prints the line with `what`.
bool expectProbeRefused(
    PortHandle port, const char* name, const char* portSettings, const char* folder, Check check, const char* what);

// holdprobe's child role on `name` just after the port was closed: false,
// with the line printed, when it was refused with the held code.
bool expectProbeLetIn(const char* name, const char* portSettings, Check check, const char* what);

// GetParsedStatusEx asked again and again of an unplugged printer: false,
// with the port closed and the line printed, when each call keeps a handle.
bool failedCallsReturnHandles(PortHandle port, Check check);

// Writes the whole text and a line feed, as one timed chunked write.
bool writeLine(PortHandle port, const char* text, Check check);

// The firmware query (ESC # * LF NUL), taken whole in one call.
bool sendFirmwareQuery(PortHandle port, Check check);

// The firmware reply read `readSize` bytes a call, until its closing NUL.
// Bytes of a read past the NUL that still hold the lent pattern were never
// written: a count that claims them fails.
bool expectFirmwareReply(PortHandle port, uint32_t readSize, Check check);

// One ReadPort into lent buffers, its answer noted: false, with the port
// closed and the line printed, when the library wrote outside them.
bool lentRead(PortHandle port, unsigned char* area, uint32_t size, Check check, VX_BOOL* result, uint32_t* got);
