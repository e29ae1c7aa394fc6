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

} // namespace vpop
