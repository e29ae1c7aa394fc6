#include <gtest/gtest.h>

#include <stdio.h>

#include <string.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

struct Run {
    unsigned test;
    std::string name;
    std::string settings;
    int firstInput; // what the test's first one-character read receives
};
std::vector<Run> runs;

template <unsigned N> bool recordingTest(const char* name, const char* settings)
{
    printf("<test %u>", N);
    runs.push_back({ N, name, settings, getchar() });
    return N % 2 == 0;
}

template <unsigned... N> std::vector<TestProcedure> makeTable(std::integer_sequence<unsigned, N...>)
{
    return { recordingTest<N>... };
}

const std::vector<TestProcedure> procedures = makeTable(std::make_integer_sequence<unsigned, TEST_COUNT>());

struct Result {
    std::string out;
    int status;
};

Result dialogue(const std::string& input)
{
    runs.clear();
    Result result { "", -1 };
    result.out = fake::runConsole(input, [&] { result.status = runDialogue(procedures.data(), testNames); });
    return result;
}

std::string menu()
{
    std::string text = "Available tests:\n";
    for (unsigned i = 0; i < TEST_COUNT; ++i) text += std::to_string(i) + " - " + testNames[i] + "\n";
    return text + "\nEnter the test number to execute, or a for all, or e for exit: ";
}

const std::string header = "devbench\nEnter the port name: \nEnter the port settings: \n";

TEST(Dialogue, TranscriptIsExactToTheByte)
{
    Result r = dialogue("COM1\nbaud=9600\n7\ne\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + menu() + "\n\n<test 7>\n\n" + menu() + "\n\n");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].name, "COM1");
    EXPECT_EQ(runs[0].settings, "baud=9600");
}

TEST(Dialogue, TheTableHoldsTheDisplayNamesInOrder)
{
    const char* expected[TEST_COUNT] = { "Test Open Port", "Test Bad Port Name", "Test Port Locking", "Test Write",
        "Test Write Offline Timeout", "Test Write Disconnect", "Test Read", "Test Read Disconnect", "Test Reset Device",
        "Test Reset Device Disconnect", "Test Get Online Status", "Test Get Online Status Disconnect",
        "Test Get Parsed Status", "Test Old Get Parsed Status", "Test Get Parsed Status Disconnect",
        "Test Hybrid Get Parsed Status", "Test Begin Checked Block", "Test Begin Checked Block Disconnect",
        "Test End Checked Block Raster", "Test End Checked Block ASCII", "Test Too Much Data For Parallel Port" };
    for (unsigned i = 0; i < TEST_COUNT; ++i) EXPECT_STREQ(testNames[i], expected[i]) << i;
}

TEST(Dialogue, ChoicesSelectTheRightTest)
{
    struct Case {
        const char* answer;
        int test; // -1: nothing runs
    };
    const Case cases[] = {
        { "E\n", 0 },
        { "x\n", 0 },
        { "-\n", 0 },
        { "+5\n", 5 },
        { "20\n", 20 },
        { "-1\n", -1 },
        { "21\n", -1 },
        { "99\n", -1 },
        { "\n\n   \t 9\n", 9 },
        { "00\n", 0 },
    };
    for (const Case& c : cases) {
        Result r = dialogue(std::string("P\nS\n") + c.answer + "e\n");
        EXPECT_EQ(r.status, 0) << c.answer;
        if (c.test < 0) {
            EXPECT_TRUE(runs.empty()) << c.answer;
            EXPECT_EQ(r.out, header + menu() + "\n\n\n" + menu() + "\n\n") << c.answer;
        } else {
            ASSERT_EQ(runs.size(), 1u) << c.answer;
            EXPECT_EQ(runs[0].test, static_cast<unsigned>(c.test)) << c.answer;
        }
    }
}

TEST(Dialogue, OnlyTheFirstCharacterLeavesAndCaseMatters)
{
    Result r = dialogue("P\nS\nex\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(r.out, header + menu() + "\n\n");
}

TEST(Dialogue, ThreeDigitsRunTheFirstTwoAndLeaveTheNewlineForTheTest)
{
    Result r = dialogue("P\nS\n123\ne\n");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].test, 12u);
    EXPECT_EQ(runs[0].firstInput, '\n');
}

TEST(Dialogue, AllRunsEveryTestInOrderWithItsBlankLines)
{
    Result r = dialogue("P\nS\na\ne\n");
    ASSERT_EQ(runs.size(), TEST_COUNT);
    std::string body;
    for (unsigned i = 0; i < TEST_COUNT; ++i) {
        EXPECT_EQ(runs[i].test, i);
        body += "<test " + std::to_string(i) + ">\n";
    }
    EXPECT_EQ(r.out, header + menu() + "\n\n" + body + "\n" + menu() + "\n\n");
}

TEST(Dialogue, EndOfInputEndsTheProgramWithoutRunningAStaleChoice)
{
    Result r = dialogue("");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(r.out, header + menu() + "\n\n");

    r = dialogue("P\nS\n4");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].test, 4u);
    EXPECT_EQ(runs[0].firstInput, EOF);
    EXPECT_EQ(r.out, header + menu() + "\n\n<test 4>\n\n" + menu() + "\n\n");
}

TEST(Dialogue, TabSplitsTheNameAndTheRestOfTheLineIsTheSettings)
{
    dialogue("COM3\tmode=raw\t7\n\ne\n");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].name, "COM3");
    EXPECT_EQ(runs[0].settings, "mode=raw");
    // The settings answer ended at the second tab, which left "7" as the
    // menu answer without the operator typing anything more.
    EXPECT_EQ(runs[0].test, 7u);

    dialogue("\tonly-settings\n1\ne\n");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].name, "");
    EXPECT_EQ(runs[0].settings, "only-settings");
}

TEST(Dialogue, OverlongAnswersAreCutAndTheRestOfTheLineDropped)
{
    std::string longName(1000, 'N');
    std::string longSettings(ANSWER_SIZE, 'S');
    dialogue(longName + "\n" + longSettings + "\n3\ne\n");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].test, 3u);
    EXPECT_EQ(runs[0].name, std::string(ANSWER_SIZE - 1, 'N'));
    EXPECT_EQ(runs[0].settings, std::string(ANSWER_SIZE - 1, 'S'));
}

TEST(Dialogue, EmptyAnswersGiveEmptyStrings)
{
    dialogue("\n\n2\ne\n");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].name, "");
    EXPECT_EQ(runs[0].settings, "");
}

TEST(Console, PromptPrintsTextAndNewlineThenTakesOneCharacter)
{
    int next = 0;
    std::string out = fake::runConsole("\nX", [&] {
        operatorPrompt("Disconnect the printer and hit enter");
        next = getchar();
    });
    EXPECT_EQ(out, "Disconnect the printer and hit enter\n");
    EXPECT_EQ(next, 'X');
}

// A yes/no question takes y, yes, n or no in any case, with a Windows line
// end too; anything else asks again, and the end of input is no answer.
TEST(Console, YesNoQuestionsTakeOnlyAYesOrANo)
{
    struct Case {
        const char* input;
        YesNo said;
        unsigned asked;
    };
    for (const Case& c : { Case { "y\n", SAID_YES, 1 }, Case { "YES\r\n", SAID_YES, 1 }, Case { "No\n", SAID_NO, 1 },
             Case { "maybe\n\nyes please\nn\n", SAID_NO, 4 }, Case { "", SAID_NOTHING, 1 },
             Case { "maybe", SAID_NOTHING, 2 } }) {
        YesNo said = SAID_NOTHING;
        std::string out = fake::runConsole(c.input, [&] { said = operatorSays("Did it restart?"); });
        EXPECT_EQ(said, c.said) << c.input;
        size_t asked = 0;
        for (size_t at = 0; (at = out.find("Did it restart? (y/n) ", at)) != std::string::npos; ++at) ++asked;
        EXPECT_EQ(asked, c.asked) << c.input;
    }
}

// The second name is one line, cut to fit; an empty one skips the step.
TEST(Console, TheSecondNameIsOneLineAndAnEmptyOneSkips)
{
    char name[8];
    bool named = true;
    std::string out = fake::runConsole("\n", [&] { named = operatorTypes("Another name: ", name, sizeof name); });
    EXPECT_FALSE(named);
    EXPECT_EQ(out, "Another name: ");
    fake::runConsole("\\\\.\\COM3 and more\nX", [&] { named = operatorTypes("Another name: ", name, sizeof name); });
    EXPECT_TRUE(named);
    EXPECT_STREQ(name, "\\\\.\\COM");
}

TEST(Console, PromptTextIsNotAFormat)
{
    std::string out = fake::runConsole("\n", [] { operatorPrompt("100% %s %n"); });
    EXPECT_EQ(out, "100% %s %n\n");
}

TEST(Console, FailureLinesCarryTheSourceLineAndExtraNumbers)
{
    fake::reset();
    PortHandle port = OpenPortA("P", "S", 5000);
    std::string out = fake::runConsole("", [&] {
        EXPECT_FALSE(failure(
            { 42, "reply" }, WANT_SUCCESS, "ReadPort did not produce the expected response - wrongCount = %u\n", 149u));
        EXPECT_FALSE(closeAndFail(port, { 7, "write" }, WANT_SUCCESS, "WritePort timed out\n"));
    });
    EXPECT_EQ(out,
        "failure: line(42) ReadPort did not produce the expected response - wrongCount = 149\n"
        "failure: line(7) WritePort timed out\n");
    EXPECT_EQ(fake::library().openHandles, 0);
}

// The line after each failure, on standard error, names the check, the call,
// what it returned, the values read, the step and what was wanted; it says
// when the answer did not change across the step, and how long End took.
TEST(Console, EachFailureIsFollowedByWhatTheLibraryAnswered)
{
    struct Case {
        const char* what;
        std::function<void()> library;
        TestProcedure test;
        const char* answer;
    };
    const Case cases[] = {
        { "a flag of 2",
            [] {
                fake::library().onlineStatus = [](PortHandle, VX_BOOL* online) {
                    *online = 2;
                    return VX_TRUE;
                };
            },
            testGetOnlineStatus,
            "  answer(online): GetOnlineStatus returned VX_TRUE with online = 2 after \"Make the printer online\" "
            "(wanted 1)\n" },
        { "the printer not changed", [] {}, testGetOnlineStatus,
            "  answer(offline): GetOnlineStatus returned VX_TRUE with online = 1 after \"Make the printer offline\" "
            "(wanted 0); it answered the same before this step: the printer may not have been changed\n" },
        { "a flag never set",
            [] {
                int calls = 0;
                fake::library().onlineStatus = [calls](PortHandle, VX_BOOL* online) mutable {
                    if (++calls == 1) *online = VX_TRUE;
                    return VX_TRUE;
                };
            },
            testGetOnlineStatusDisconnect,
            "  answer(unplugged-unset): GetOnlineStatus returned VX_TRUE with online = 0xA5A5A5A5 (left unset) after "
            "\"Disconnect the printer\" (wanted VX_FALSE, or the flag set)\n" },
        { "End at the NOW step",
            [] {
                fake::library().endBlock = [](PortHandle, unsigned char* record) {
                    memset(record, 0, VX_STATUS_LEVEL1_SIZE);
                    fake::advance(30);
                    return 5;
                };
            },
            testEndCheckedBlockAscii,
            "  answer(end-cover-opened): EndCheckedBlockEx returned 5 with offline = 0, coverOpen = 0 after \"Make the "
            "printer "
            "offline (cover open), NOW\" (wanted VX_FALSE, or offline 1 and coverOpen 1); it answered the same before "
            "this step: the printer may not have been changed; EndCheckedBlockEx took 30 ms\n" },
        { "the probe's status", [] { fake::startAndWait() = [](const char*, const char* const*) { return 1; }; },
            testPortLocking,
            "  answer(probe): holdprobe ended with status 1 (wanted status 0: the port held, and the probe's copy "
            "refused with 183)\n" },
    };
    for (const Case& c : cases) {
        fake::reset();
        c.library();
        fake::runConsole("\n\n\n", [&] { EXPECT_FALSE(c.test("COM1", "")) << c.what; });
        EXPECT_EQ(fake::capturedStderr(), c.answer) << c.what;
    }
}

} // namespace
