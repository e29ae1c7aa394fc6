#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cases/cases.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

#if defined(_WIN32)
const char PROBE[] = "holdprobe.exe";
#else
const char PROBE[] = "holdprobe";
#endif

class LockingTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        fake::startAndWait() = [this](const char* path, const char* const* argv) {
            ++starts;
            probePath = path;
            probeArgv.clear();
            for (int i = 0; argv[i] != nullptr; ++i) probeArgv.push_back(argv[i]);
            return probeStatus;
        };
    }

    int probeStatus = 0;
    int starts = 0;
    std::string probePath;
    std::vector<std::string> probeArgv;
};

// Blanks and empty answers must reach the probe as the operator typed them,
// one entry each.
TEST_F(LockingTests, ProbeGetsTheOperatorsAnswersAsSeparateEntries)
{
    bool passed = false;
    std::string out = fake::runConsole("", [&] { passed = testPortLocking("my port", ""); });
    EXPECT_TRUE(passed);
    EXPECT_EQ(out, "testPortLocking\n");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(probePath, PROBE);
    EXPECT_EQ(probeArgv, (std::vector<std::string> { PROBE, "my port", "" }));
    EXPECT_TRUE(fake::library().calls.empty());
}

TEST_F(LockingTests, AnyOtherProbeStatusPrintsTheOneFailureLine)
{
    for (int status : { 1, -1, 2, 255 }) {
        probeStatus = status;
        bool passed = true;
        std::string out = fake::runConsole("", [&] { passed = testPortLocking("COM1", "s"); });
        EXPECT_FALSE(passed) << status;
        ASSERT_EQ(out.rfind("testPortLocking\nfailure: line(", 0), 0u) << out;
        EXPECT_EQ(out.substr(out.find(')')), ") holdprobe did not return EXIT_SUCESS\n") << status;
    }
    EXPECT_TRUE(fake::library().calls.empty());
}

} // namespace
