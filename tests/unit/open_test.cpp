#include <gtest/gtest.h>

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

} // namespace
