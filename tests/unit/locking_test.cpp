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

// The failure line stays the same; a hint follows where the status tells
// more than the probe could print itself.
TEST_F(LockingTests, AnyOtherProbeStatusPrintsTheOneFailureLineAndWhatTheStatusTells)
{
    struct Case {
        int status;
        const char* hint;
    };
    const Case cases[]
        = { { 1, nullptr },
              { 2, nullptr },
              { -1, "could not be started" },
#if defined(_WIN32)
              { static_cast<int>(0xC0000135u), "could not load" },
              { static_cast<int>(0xC000007Bu), "could not load" },
              { static_cast<int>(0xC0000005u), "crashed" },
#else
              { 127, "could not load" },
              { 128 + 11, "crashed" },
#endif
          };
    for (const Case& c : cases) {
        probeStatus = c.status;
        bool passed = true;
        std::string out = fake::runConsole("", [&] { passed = testPortLocking("COM1", "s"); });
        EXPECT_FALSE(passed) << c.status;
        ASSERT_EQ(out.rfind("testPortLocking\nfailure: line(", 0), 0u) << out;
        std::string rest = out.substr(out.find(')'));
        const std::string line = ") holdprobe did not return EXIT_SUCESS\n";
        ASSERT_EQ(rest.substr(0, line.size()), line) << c.status;
        std::string hint = rest.substr(line.size());
        if (c.hint == nullptr) {
            EXPECT_EQ(hint, "") << c.status;
            continue;
        }
        EXPECT_EQ(hint.rfind("hint: ", 0), 0u) << hint;
        EXPECT_NE(hint.find(c.hint), std::string::npos) << hint;
        EXPECT_NE(hint.find("\"When Test Port Locking fails\"\n"), std::string::npos) << hint;
        EXPECT_EQ(hint.find('\n'), hint.size() - 1) << "one line: " << hint;
    }
    EXPECT_TRUE(fake::library().calls.empty());
}

} // namespace
