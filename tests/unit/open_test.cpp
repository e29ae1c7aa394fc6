#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "cases/cases.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

class OpenTests : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
};

TEST_F(OpenTests, RefusedThirtySeventhOpenStopsAfterThirtySixPairs)
{
    int opens = 0;
    fake::library().open = [&](const char*, const char*, uint32_t) -> PortHandle {
        return ++opens == 37 ? nullptr : reinterpret_cast<PortHandle>(static_cast<uintptr_t>(opens) * 16);
    };
    bool passed = true;
    std::string out = fake::runConsole("", [&] { passed = testOpenPort("COM1", "s"); });
    EXPECT_FALSE(passed);
    EXPECT_EQ(fake::count("OpenPortA"), 37u);
    EXPECT_EQ(fake::count("ClosePort"), 36u);
    EXPECT_EQ(fake::library().openHandles, 0);
    EXPECT_EQ(out.substr(0, 13), "testOpenPort\n");
    EXPECT_NE(out.find("failure: line("), std::string::npos);
    EXPECT_EQ(out.substr(out.find(")")), ") OpenPortA return NULL\n");
}

TEST_F(OpenTests, HundredCleanOpensPassWithTheOperatorsArguments)
{
    bool passed = false;
    std::string out = fake::runConsole("", [&] { passed = testOpenPort("COM7", "baud=9600"); });
    EXPECT_TRUE(passed);
    EXPECT_EQ(out, "testOpenPort\n");
    EXPECT_EQ(fake::count("OpenPortA"), 100u);
    EXPECT_EQ(fake::count("ClosePort"), 100u);
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(fake::library().openedNames[i], "COM7");
        EXPECT_EQ(fake::library().openedSettings[i], "baud=9600");
        EXPECT_EQ(fake::library().openTimeLimits[i], 5000u);
    }
}

// Handles a library sets up once, keeps in a bounded pool or releases a
// moment after ClosePort are allowed; what grows with the sessions is not.
TEST_F(OpenTests, OnlyHandlesThatGrowWithTheSessionsFail)
{
    struct Case {
        const char* what;
        std::function<void(int close)> onClose;
        const char* line;
        size_t closes;
    };
    std::vector<uint32_t> releases;
    const Case cases[] = {
        { "every close leaks one", [](int) { ++fake::handles(); },
            ") 199 more handles held after 200 OpenPortA/ClosePort pairs than after the first, 1.00 kept by each "
            "session\n",
            200 },
        { "every tenth close leaks one", [](int close) { fake::handles() += close % 10 == 0 ? 1 : 0; },
            ") 20 more handles held after 200 OpenPortA/ClosePort pairs than after the first, 0.10 kept by each "
            "session\n",
            200 },
        { "set up at the first close", [](int close) { fake::handles() += close == 1 ? 50 : 0; }, nullptr, 100 },
        { "eight kept later", [](int close) { fake::handles() += close <= 9 ? 1 : 0; }, nullptr, 100 },
        { "a pool that stops at 16", [](int close) { fake::handles() += close <= 17 ? 1 : 0; }, nullptr, 200 },
        { "each released 20 ms after its close",
            [&](int) {
                ++fake::handles();
                releases.push_back(fake::now() + 20);
            },
            nullptr, 100 },
    };
    for (const Case& c : cases) {
        fake::reset();
        releases.clear();
        fake::beforeHandleCount() = [&] {
            while (!releases.empty() && releases.front() <= fake::now()) {
                --fake::handles();
                releases.erase(releases.begin());
            }
        };
        int closes = 0;
        fake::library().close = [&](PortHandle) {
            c.onClose(++closes);
            return VX_TRUE;
        };
        bool passed = c.line == nullptr;
        std::string out = fake::runConsole("", [&] { passed = testOpenPort("COM1", "s"); });
        EXPECT_EQ(passed, c.line == nullptr) << c.what;
        EXPECT_EQ(fake::count("ClosePort"), c.closes) << c.what;
        if (c.line == nullptr) {
            EXPECT_EQ(out, "testOpenPort\n") << c.what;
        } else {
            ASSERT_NE(out.find(")"), std::string::npos) << c.what;
            EXPECT_EQ(out.substr(out.find(")")), c.line) << c.what;
        }
    }
}

TEST_F(OpenTests, BadNameIsNameAndSuffixWithSettingsUnchanged)
{
    fake::library().open = [](const char*, const char*, uint32_t) -> PortHandle { return nullptr; };
    bool passed = false;
    std::string out = fake::runConsole("", [&] { passed = testBadPortName("X", "a=1,b=2"); });
    EXPECT_TRUE(passed);
    EXPECT_EQ(out, "testBadPortName\n");
    ASSERT_EQ(fake::library().openedNames.size(), 1u);
    EXPECT_EQ(fake::library().openedNames[0], "XaReallyHorriblyBadSuffix");
    EXPECT_EQ(fake::library().openedSettings[0], "a=1,b=2");
    EXPECT_EQ(fake::count("ClosePort"), 0u);
}

TEST_F(OpenTests, BadNameAcceptedIsClosedBeforeTheFailureLine)
{
    bool passed = true;
    std::string out = fake::runConsole("", [&] { passed = testBadPortName("COM1", ""); });
    EXPECT_FALSE(passed);
    ASSERT_EQ(fake::library().closeOutputOffsets.size(), 1u);
    EXPECT_EQ(fake::library().closeOutputOffsets[0], static_cast<long>(strlen("testBadPortName\n")));
    EXPECT_NE(out.find(") OpenPortA did not return NULL when given a bad port name\n"), std::string::npos);
    EXPECT_EQ(fake::library().openHandles, 0);
}

// The held code for a name that cannot exist would let any refusal pass for
// a hold; a code left from before the call is not the library's answer.
TEST_F(OpenTests, BadNameRefusedAsHeldFails)
{
    const uint32_t ALREADY_EXISTS = 183;
    struct Case {
        uint32_t before;
        bool libraryReports;
        uint32_t reported;
        bool passes;
    };
    const Case cases[] = { { 0, true, ALREADY_EXISTS, false }, { ALREADY_EXISTS, false, 0, true }, { 0, true, 2, true },
        { ALREADY_EXISTS, true, 2, true } };
    for (const Case& c : cases) {
        fake::reset();
        fake::lastError() = c.before;
        fake::library().open = [c](const char*, const char*, uint32_t) -> PortHandle {
            if (c.libraryReports) fake::lastError() = c.reported;
            return nullptr;
        };
        bool passed = !c.passes;
        std::string out = fake::runConsole("", [&] { passed = testBadPortName("COM1", ""); });
        EXPECT_EQ(passed, c.passes) << c.before << " " << c.reported;
        if (c.passes) {
            EXPECT_EQ(out, "testBadPortName\n");
        } else {
            ASSERT_NE(out.find(")"), std::string::npos);
            EXPECT_EQ(
                out.substr(out.find(")")), ") OpenPortA reported the port held (183) when given a bad port name\n");
        }
        EXPECT_EQ(fake::count("ClosePort"), 0u);
    }
}

} // namespace
