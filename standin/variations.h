// Healthy variations: what another healthy build of KelmorPort may do
// differently from this one, within the library contract. The suite must
// pass every one; each is asked for in the settings as variation=NAME[:N],
// beside any fault.
#pragma once

#include <stdint.h>

#include <string>

#include "portlib/KelmorPort.h"

namespace standin {

struct Variations {
    // GetOnlineStatus succeeds with this flag while the printer is unreachable.
    bool unpluggedFlagGiven = false;
    VX_BOOL unpluggedFlag = VX_FALSE;
    bool unpluggedCountZero = false;
    uint32_t statusDelayMs = 0;
    uint32_t writeLimit = 0;
    uint32_t readLimit = 0;
    bool unreadWordsKept = false;
    bool unreadWordsFilled = false;
    bool slipSensorBits = false;
    bool processLog = false;
    uint32_t traceCloseDelayMs = 0;
    uint32_t openDelayMs = 0;
    bool successMinus1 = false;
    bool heldWouldBlock = false;
    bool staleError = false;
    bool timeLimitInSeconds = false;
    bool handleIsAddress = false;
    bool stderrNotes = false;
    bool readFillsBuffer = false;
    bool failedCallsFill = false;
    bool unpluggedRetry = false;
    bool stdoutBanner = false;
};

// Reads one variation=VALUE; false, with a message naming the known ones,
// for one this library does not know.
bool applyVariation(Variations& variations, const std::string& value, std::string* error);

} // namespace standin
