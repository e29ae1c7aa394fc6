// The test procedures, one source per group. Each takes the operator's port
// name and settings and returns true when the test passed.
#pragma once

#include <stdint.h>

#include "portlib/open_limit.h"

// The process's handle count once it is at most `bound`, or as it stands
// after a second's recounts (a library may release a handle a moment late);
// the count itself on a system that cannot count.
uint32_t settledHandles(uint32_t bound);

bool testOpenPort(const char* portName, const char* portSettings);
bool testBadPortName(const char* portName, const char* portSettings);
bool testPortLocking(const char* portName, const char* portSettings);
bool testWrite(const char* portName, const char* portSettings);
bool testWriteOfflineTimeout(const char* portName, const char* portSettings);
bool testWriteDisconnect(const char* portName, const char* portSettings);
bool testRead(const char* portName, const char* portSettings);
bool testReadDisconnect(const char* portName, const char* portSettings);
bool testResetDevice(const char* portName, const char* portSettings);
bool testResetDeviceDisconnect(const char* portName, const char* portSettings);
bool testGetOnlineStatus(const char* portName, const char* portSettings);
bool testGetOnlineStatusDisconnect(const char* portName, const char* portSettings);
bool testGetParsedStatus(const char* portName, const char* portSettings);
bool testOldGetParsedStatus(const char* portName, const char* portSettings);
bool testGetParsedStatusDisconnect(const char* portName, const char* portSettings);
bool testHybridGetParsedStatus(const char* portName, const char* portSettings);
bool testBeginCheckedBlock(const char* portName, const char* portSettings);
bool testBeginCheckedBlockDisconnect(const char* portName, const char* portSettings);
bool testEndCheckedBlockRaster(const char* portName, const char* portSettings);
bool testEndCheckedBlockAscii(const char* portName, const char* portSettings);
bool testTooMuchDataForParallelPort(const char* portName, const char* portSettings);
