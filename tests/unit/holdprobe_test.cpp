#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/holdprobe.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

const uint32_t ALREADY_EXISTS = 183;
const uint32_t NO_SUCH_FILE = 2;
// The library sets no code, over a 183 left from before.
const uint32_t NOT_SET = 0xFFFFFFFFu;
const char PROBE_NAME[] = "./probe copies/hp-7";

// Exactly "failure - <digits>\n".
bool isOneProbeFailureLine(const std::string& out)
{
    const std::string head = "failure - ";
    if (out.compare(0, head.size(), head) != 0 || out.size() < head.size() + 2 || out.back() != '\n') return false;
    std::string digits = out.substr(head.size(), out.size() - head.size() - 1);
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

class HoldprobeTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        // The started copy runs in-process, so both roles share one fake
        // library, just as two processes share one printer.
        fake::startAndWait() = [this](const char* path, const char* const* argv) {
            ++childStarts;
            childPath = path;
            childArgv.clear();
            for (int i = 0; argv[i] != nullptr; ++i) childArgv.push_back(argv[i]);
            heldWhileChildRan = fake::library().openHandles;
            closesBeforeChild = fake::count("ClosePort");
            return childRuns ? holdprobeMain(static_cast<int>(childArgv.size()), argv) : childStatus;
        };
    }

    // A library that refuses a port already open anywhere with `refusal`.
    static void exclusiveLibrary(uint32_t refusal)
    {
        fake::library().open = [refusal](const char*, const char*, uint32_t) -> PortHandle {
            static uintptr_t next = 0x100;
            if (fake::library().openHandles > 0) {
                fake::lastError() = refusal;
                return nullptr;
            }
            return reinterpret_cast<PortHandle>(next += 16);
        };
    }

    int runParent(std::string& out)
    {
        // Not the usual name: the copy must be started by whatever name this
        // program was started by.
        const char* argv[] = { PROBE_NAME, "COM3", "baud=9600 parity=n", nullptr };
        int status = -99;
        out = fake::runConsole("", [&] { status = holdprobeMain(3, argv); });
        return status;
    }

    bool childRuns = true;
    int childStatus = 0;
    int childStarts = 0;
    std::string childPath;
    std::vector<std::string> childArgv;
    int heldWhileChildRan = -1;
    size_t closesBeforeChild = 99;
};

TEST_F(HoldprobeTests, ExclusiveLibraryPassesWithThePortHeldAcrossTheChild)
{
    exclusiveLibrary(ALREADY_EXISTS);
    std::string out;
    EXPECT_EQ(runParent(out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(childPath, PROBE_NAME);
    EXPECT_EQ(childArgv, (std::vector<std::string> { PROBE_NAME, "COM3", "baud=9600 parity=n", "." }));
    EXPECT_EQ(heldWhileChildRan, 1);
    EXPECT_EQ(closesBeforeChild, 0u);
    EXPECT_EQ(childStarts, 2);
    EXPECT_EQ(fake::library().calls, (std::vector<std::string> { "OpenPortA", "OpenPortA", "OpenPortA", "ClosePort" }));
    EXPECT_EQ(fake::library().openHandles, 0);
    EXPECT_EQ(fake::library().badCloses, 0);
    for (uint32_t limit : fake::library().openTimeLimits) EXPECT_EQ(limit, 5000u);
    EXPECT_EQ(fake::library().openedSettings[1], "baud=9600 parity=n");
}

TEST_F(HoldprobeTests, SecondOpenGrantedFailsBothRolesAndClosesBothHandles)
{
    std::string out;
    EXPECT_EQ(runParent(out), 1);
    EXPECT_TRUE(isOneProbeFailureLine(out)) << out;
    EXPECT_EQ(fake::count("ClosePort"), 2u);
    EXPECT_EQ(fake::library().openHandles, 0);
    EXPECT_EQ(fake::library().badCloses, 0);
}

// As a library that takes the holder's lock for a stale one as it refuses:
// the first copy is refused, the second gets in.
TEST_F(HoldprobeTests, PortGivenUpOnItsFirstRefusalFailsAtTheSecondChild)
{
    fake::library().open = [](const char*, const char*, uint32_t) -> PortHandle {
        static bool lockRemoved;
        static uintptr_t next = 0x100;
        if (fake::library().openHandles == 0) lockRemoved = false;
        if (fake::library().openHandles > 0 && !lockRemoved) {
            lockRemoved = true;
            fake::lastError() = ALREADY_EXISTS;
            return nullptr;
        }
        return reinterpret_cast<PortHandle>(next += 16);
    };
    std::string out;
    EXPECT_EQ(runParent(out), 1);
    EXPECT_TRUE(isOneProbeFailureLine(out)) << out;
    EXPECT_EQ(childStarts, 2);
    EXPECT_EQ(heldWhileChildRan, 1);
    EXPECT_EQ(fake::count("ClosePort"), 2u);
    EXPECT_EQ(fake::library().openHandles, 0);
    EXPECT_EQ(fake::library().badCloses, 0);
}

TEST_F(HoldprobeTests, ChildReportsOnlyThroughItsStatus)
{
    struct Case {
        bool granted;
        uint32_t error;
        int status;
    };
    const Case cases[] = { { false, ALREADY_EXISTS, 0 }, { false, NO_SUCH_FILE, 1 }, { false, 0, 1 }, { false, 16, 1 },
        { true, ALREADY_EXISTS, 1 }, { false, NOT_SET, 1 } };
    for (const Case& c : cases) {
        fake::reset();
        fake::lastError() = ALREADY_EXISTS;
        fake::library().open = [c](const char*, const char*, uint32_t) -> PortHandle {
            if (c.error != NOT_SET) fake::lastError() = c.error;
            return c.granted ? reinterpret_cast<PortHandle>(0x40) : nullptr;
        };
        // The role mark is never read, whatever it says.
        const char* argv[] = { "holdprobe", "COM3", "", "not a dot", nullptr };
        int status = -99;
        std::string out = fake::runConsole("", [&] { status = holdprobeMain(4, argv); });
        EXPECT_EQ(status, c.status) << "error " << c.error << " granted " << c.granted;
        EXPECT_EQ(out, "");
        EXPECT_EQ(fake::library().openHandles, 0);
        EXPECT_EQ(fake::count("ClosePort"), c.granted ? 1u : 0u);
        EXPECT_EQ(fake::library().openedSettings, std::vector<std::string> { "" });
    }
}

TEST_F(HoldprobeTests, WrongArgumentCountPrintsOneLineAndTouchesNothing)
{
    const char* argv[] = { "holdprobe", "COM3", "s", ".", "extra", "more", nullptr };
    for (int argc : { 0, 1, 2, 5, 6 }) {
        fake::reset();
        bool started = false;
        fake::startAndWait() = [&](const char*, const char* const*) {
            started = true;
            return 0;
        };
        const char* const* entries = argc == 0 ? argv + 6 : argv;
        int status = -99;
        std::string out = fake::runConsole("", [&] { status = holdprobeMain(argc, entries); });
        EXPECT_EQ(status, 1) << argc;
        EXPECT_TRUE(isOneProbeFailureLine(out)) << argc << ": " << out;
        EXPECT_TRUE(fake::library().calls.empty()) << argc;
        EXPECT_FALSE(started) << argc;
    }
}

TEST_F(HoldprobeTests, ParentsOwnRefusalFailsWithoutStartingTheChild)
{
    fake::library().open = [](const char*, const char*, uint32_t) -> PortHandle { return nullptr; };
    std::string out;
    EXPECT_EQ(runParent(out), 1);
    EXPECT_TRUE(isOneProbeFailureLine(out)) << out;
    EXPECT_TRUE(childArgv.empty());
    EXPECT_EQ(fake::count("ClosePort"), 0u);
}

// Only a child that was refused proves the hold: one that could not be
// started (-1), was killed (128 + SIGSEGV) or crashed on Windows fails too.
TEST_F(HoldprobeTests, OnlyChildStatusZeroPassesTheParent)
{
    const int WINDOWS_ACCESS_VIOLATION = static_cast<int>(0xC0000005u);
    for (int status : { 0, 1, 2, -1, 128 + 11, WINDOWS_ACCESS_VIOLATION }) {
        SetUp();
        childRuns = false;
        childStatus = status;
        std::string out;
        int parent = runParent(out);
        EXPECT_EQ(parent, status == 0 ? 0 : 1) << status;
        EXPECT_EQ(isOneProbeFailureLine(out), status != 0) << status << ": " << out;
        EXPECT_EQ(heldWhileChildRan, 1) << status;
        EXPECT_EQ(fake::count("ClosePort"), 1u) << status;
        EXPECT_EQ(fake::library().openHandles, 0) << status;
    }
}

} // namespace
