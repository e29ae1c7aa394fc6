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
// devbench-extended's: the lock held past a stale lock's age, the copy of
// itself that lingers, the wait after a reset, the idle session's pause,
// the time a printed line has to come out.
const unsigned LOCK_AGE_MS = 12000;
const unsigned LINGER_MS = 1500;
const unsigned RESET_SETTLE_MS = 2000;
const unsigned IDLE_MS = 15000;
const unsigned LINE_OUT_MS = 3000;

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

const std::array<SuiteTest, extendedTestCount>& extendedTests()
{
    // Each quiet stretch as devbench's: the longest a procedure goes between
    // two lines, every call within the open's time limit. Read In Small
    // Pieces reads four whole replies without a line between them.
    static const std::array<SuiteTest, extendedTestCount> tests = { {
        { "Lock Under Other Names And Folders", "testLockOtherNames", { 16, 0, 0 } },
        { "Lock Over Time And Started Programs", "testLockOverTime", { 16, 0, LOCK_AGE_MS + LINGER_MS } },
        { "Lock Beside Refused Opens", "testLockBesideRefusals", { 20, 0, REPLY_TIME_LIMIT_MS } },
        { "Lock Across A Disconnect", "testLockAcrossDisconnect", { 8, 0, 0 } },
        { "Refused Opens Return Their Handles", "testRefusalHandles", { 82, 0, 0 } },
        { "Unreachable Printer Not Held", "testRefusalUnreachable", { 42, 0, 0 } },
        { "Disconnect And Reconnect", "testReconnect", { 6, 1, REPLY_TIME_LIMIT_MS } },
        { "Reset Restarts The Printer", "testResetRestarts", { 4, 0, RESET_SETTLE_MS + REPLY_TIME_LIMIT_MS } },
        { "Idle Session", "testIdleSession", { 4, 1, IDLE_MS } },
        { "Cover, Paper And Online Key Apart", "testStatusApart", { 6, 0, 0 } },
        { "Slip Sensors Apart", "testSlipApart", { 2, 0, 0 } },
        { "Checked Blocks In A Row", "testBlocksInARow", { 3, 3, 0 } },
        { "Read In Small Pieces", "testReadPieces", { 8, 0, 4 * (REPLY_WAIT_MS + REPLY_TIME_LIMIT_MS) } },
        { "Write Whole And At Once", "testWriteOnce", { 1, 1, LINE_OUT_MS } },
        { "Write While Offline", "testWriteOffline", { 2, 0, LINE_OUT_MS } },
    } };
    return tests;
}

unsigned testCount(Suite suite) { return suite == Suite::Extended ? extendedTestCount : suiteTestCount; }

const SuiteTest& suiteTest(Suite suite, unsigned number)
{
    // A number a record names that the suite has not is no test of it.
    static const SuiteTest unknown = { "(unknown test)", "", { 0, 0, 0 } };
    if (number >= testCount(suite)) return unknown;
    return suite == Suite::Extended ? extendedTests()[number] : suiteTests()[number];
}

std::string_view suiteName(Suite suite) { return suite == Suite::Extended ? "devbench-extended" : "devbench"; }

bool suiteOfName(std::string_view name, Suite* suite)
{
    for (Suite each : { Suite::Devbench, Suite::Extended }) {
        if (name != suiteName(each)) continue;
        *suite = each;
        return true;
    }
    return false;
}

std::string testLabel(Suite suite, unsigned number)
{
    return (suite == Suite::Extended ? "x" : "") + std::to_string(number);
}

std::string testTitle(Suite suite, unsigned number)
{
    return testLabel(suite, number) + " " + std::string(suiteTest(suite, number).name);
}

} // namespace vpop
