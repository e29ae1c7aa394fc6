#include "operator/record/suite.h"

namespace vpop {

const std::array<SuiteTest, suiteTestCount>& suiteTests()
{
    static const std::array<SuiteTest, suiteTestCount> tests = { {
        { "Test Open Port", "testOpenPort" },
        { "Test Bad Port Name", "testBadPortName" },
        { "Test Port Locking", "testPortLocking" },
        { "Test Write", "testWrite" },
        { "Test Write Offline Timeout", "testWriteOfflineTimeout" },
        { "Test Write Disconnect", "testWriteDisconnect" },
        { "Test Read", "testRead" },
        { "Test Read Disconnect", "testReadDisconnect" },
        { "Test Reset Device", "testResetDevice" },
        { "Test Reset Device Disconnect", "testResetDeviceDisconnect" },
        { "Test Get Online Status", "testGetOnlineStatus" },
        { "Test Get Online Status Disconnect", "testGetOnlineStatusDisconnect" },
        { "Test Get Parsed Status", "testGetParsedStatus" },
        { "Test Old Get Parsed Status", "testOldGetParsedStatus" },
        { "Test Get Parsed Status Disconnect", "testGetParsedStatusDisconnect" },
        { "Test Hybrid Get Parsed Status", "testHybridGetParsedStatus" },
        { "Test Begin Checked Block", "testBeginCheckedBlock" },
        { "Test Begin Checked Block Disconnect", "testBeginCheckedBlockDisconnect" },
        { "Test End Checked Block Raster", "testEndCheckedBlock" },
        { "Test End Checked Block ASCII", "testEndCheckedBlock" },
        { "Test Too Much Data For Parallel Port", "testTooMuchDataForParallelPort" },
    } };
    return tests;
}

const std::array<SuiteTest, extendedTestCount>& extendedTests()
{
    static const std::array<SuiteTest, extendedTestCount> tests = { {
        { "Lock Under Other Names And Folders", "testLockOtherNames" },
        { "Lock Over Time And Started Programs", "testLockOverTime" },
        { "Lock Beside Refused Opens", "testLockBesideRefusals" },
        { "Lock Across A Disconnect", "testLockAcrossDisconnect" },
        { "Refused Opens Return Their Handles", "testRefusalHandles" },
        { "Unreachable Printer Not Held", "testRefusalUnreachable" },
        { "Disconnect And Reconnect", "testReconnect" },
        { "Reset Restarts The Printer", "testResetRestarts" },
        { "Idle Session", "testIdleSession" },
        { "Cover, Paper And Online Key Apart", "testStatusApart" },
        { "Slip Sensors Apart", "testSlipApart" },
        { "Checked Blocks In A Row", "testBlocksInARow" },
        { "Read In Small Pieces", "testReadPieces" },
        { "Write Whole And At Once", "testWriteOnce" },
        { "Write While Offline", "testWriteOffline" },
    } };
    return tests;
}

unsigned testCount(Suite suite) { return suite == Suite::Extended ? extendedTestCount : suiteTestCount; }

const SuiteTest& suiteTest(Suite suite, unsigned number)
{
    // A number a record names that the suite has not is no test of it.
    static const SuiteTest unknown = { "(unknown test)", "" };
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
