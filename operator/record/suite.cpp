#include "operator/record/suite.h"

namespace vpop {

namespace {

// The suite's own waits that a quiet stretch may hold, as its tests name
// them: Test Open Port's two waits for a late release of handles, Test
// Read's bound on a whole reply, Test Read Disconnect's wait before a read,
// the hybrid test's wait for the validation.
const unsigned HANDLE_SETTLE_MS = 1000;
const unsigned REPLY_TIME_LIMIT_MS = 20000;
const unsigned REPLY_WAIT_MS = 500;
const unsigned VALIDATION_WAIT_MS = 5000;

} // namespace

const std::array<SuiteTest, suiteTestCount>& suiteTests()
{
    // Each quiet stretch is the test's longest between two lines it prints
    // (the operator answers a prompt at once): Test Open Port's up to 200
    // opens and closes; Test Port Locking's probe, its two copies and what
    // they close; Test Read's reply limit; the hybrid test's wait for the
    // validation; an End that waits for its job to print.
    static const std::array<SuiteTest, suiteTestCount> tests = { {
        { "Test Open Port", "testOpenPort", { 400, 0, 2 * HANDLE_SETTLE_MS } },
        { "Test Bad Port Name", "testBadPortName", { 2, 0, 0 } },
        { "Test Port Locking", "testPortLocking", { 6, 0, 0 } },
        { "Test Write", "testWrite", { 2, 1, 0 } },
        { "Test Write Offline Timeout", "testWriteOfflineTimeout", { 5, 0, 0 } },
        { "Test Write Disconnect", "testWriteDisconnect", { 2, 0, 0 } },
        { "Test Read", "testRead", { 2, 0, REPLY_TIME_LIMIT_MS } },
        { "Test Read Disconnect", "testReadDisconnect", { 5, 0, REPLY_WAIT_MS } },
        { "Test Reset Device", "testResetDevice", { 3, 0, 0 } },
        { "Test Reset Device Disconnect", "testResetDeviceDisconnect", { 2, 0, 0 } },
        { "Test Get Online Status", "testGetOnlineStatus", { 3, 0, 0 } },
        { "Test Get Online Status Disconnect", "testGetOnlineStatusDisconnect", { 2, 0, 0 } },
        { "Test Get Parsed Status", "testGetParsedStatus", { 3, 0, 0 } },
        { "Test Old Get Parsed Status", "testOldGetParsedStatus", { 3, 0, 0 } },
        { "Test Get Parsed Status Disconnect", "testGetParsedStatusDisconnect", { 2, 0, 0 } },
        { "Test Hybrid Get Parsed Status", "testHybridGetParsedStatus", { 1, 1, VALIDATION_WAIT_MS } },
        { "Test Begin Checked Block", "testBeginCheckedBlock", { 3, 0, 0 } },
        { "Test Begin Checked Block Disconnect", "testBeginCheckedBlockDisconnect", { 2, 0, 0 } },
        { "Test End Checked Block Raster", "testEndCheckedBlock", { 3, 1, 0 } },
        { "Test End Checked Block ASCII", "testEndCheckedBlock", { 3, 1, 0 } },
        { "Test Too Much Data For Parallel Port", "testTooMuchDataForParallelPort", { 2, 1, 0 } },
    } };
    return tests;
}

} // namespace vpop
