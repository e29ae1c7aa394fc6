// What the extended procedures share: the four calls that fill a status
// record, each word checked exactly, holdprobe's child role started from any
// folder, the firmware reply read in pieces of any size, and lines of text.
// Each takes the source line of the procedure's own step.
#pragma once

#include <stdint.h>

#include "cases/status_checks.h"
#include "portlib/KelmorPort.h"
#include "runner/harness.h"

enum RecordCall { CALL_STATUS_EX, CALL_STATUS_OLD, CALL_BEGIN, CALL_END };
const unsigned RECORD_CALLS = 4;

const char* recordCallName(RecordCall call);

// One call into a freshly lent record: false, with the port closed and the
// line printed, when the library wrote outside it.
bool callRecord(PortHandle port, RecordCall call, unsigned char* area, unsigned line, VX_BOOL* result);

// The words a state fixes for any printer: coverOpen, offline, paperEmpty.
struct CoverPaperOnline {
    VX_BOOL coverOpen;
    VX_BOOL offline;
    VX_BOOL paperEmpty;
};

// The record must hold exactly these words, each where the call's layout
// keeps it; else the port is closed and a line names the call and the word.
bool expectWords(PortHandle port, RecordCall call, const unsigned char* record, CoverPaperOnline want, unsigned line);

// The status call must succeed and its record hold exactly `want`.
bool expectStatus(PortHandle port, RecordCall call, CoverPaperOnline want, unsigned line);

const CoverPaperOnline PRINTER_READY = { 0, 0, 0 };

// holdprobe's child role on `name` from `folder` (null: the current one):
// true when it was refused with the held code. Anything else closes the
// port and prints the line with `what`.
bool expectProbeRefused(
    PortHandle port, const char* name, const char* portSettings, const char* folder, unsigned line, const char* what);

// Writes the whole text and a line feed, as one timed chunked write.
bool writeLine(PortHandle port, const char* text, unsigned line);

// The firmware query (ESC # * LF NUL), taken whole in one call.
bool sendFirmwareQuery(PortHandle port, unsigned line);

// The firmware reply read `readSize` bytes a call, until its closing NUL. Bytes of a read past the NUL that still hold
// the lent pattern were never written: a count that claims them fails.
bool expectFirmwareReply(PortHandle port, uint32_t readSize, unsigned line);
