// devbench-extended's procedures, one source per group: what a library
// maker gets wrong that devbench's steps cannot see. Each takes the
// operator's port name and settings and returns true when it passed.
#pragma once

#include "portlib/open_limit.h"

// The lock.
bool testLockOtherNames(const char* portName, const char* portSettings);
bool testLockOverTime(const char* portName, const char* portSettings);
bool testLockBesideRefusals(const char* portName, const char* portSettings);
bool testLockAcrossDisconnect(const char* portName, const char* portSettings);
// Refusals and handles.
bool testRefusalHandles(const char* portName, const char* portSettings);
bool testRefusalUnreachable(const char* portName, const char* portSettings);
// Disconnect and reconnect.
bool testReconnect(const char* portName, const char* portSettings);
// Reset and idle.
bool testResetRestarts(const char* portName, const char* portSettings);
bool testIdleSession(const char* portName, const char* portSettings);
// Status records with the cover, the paper and the Online key apart.
bool testStatusApart(const char* portName, const char* portSettings);
bool testSlipApart(const char* portName, const char* portSettings);
// Checked blocks.
bool testBlocksInARow(const char* portName, const char* portSettings);
// Reads and writes.
bool testReadPieces(const char* portName, const char* portSettings);
bool testWriteOnce(const char* portName, const char* portSettings);
bool testWriteOffline(const char* portName, const char* portSettings);

// The argument that makes devbench-extended a program that only waits a
// while and ends: started by a procedure that holds the port, it inherits
// what a library lets its holder's programs inherit.
#define EXT_LINGER_ARGUMENT "--linger"
const unsigned EXT_LINGER_MS = 1500;
