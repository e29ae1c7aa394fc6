#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <fstream>

#include "operator/record/records.h"
#include "operator/record/verdict.h"
#include "operator/run/dialogue.h"
#include "operator/run/run.h"
#include "operator/run/run_record.h"
#include "operator/run/session.h"

namespace {

using namespace vpop;

const std::string menu = "Available tests:\n0 - Test Open Port\n1 - Test Bad Port Name\n\n"
                         "Enter the test number to execute, or a for all, or e for exit: ";
const std::string start = "devbench\nEnter the port name: ";

// Drives a session the way devbench's output arrives: in arbitrary pieces.
struct Driver {
    Session session;
    double clock = 0;
    std::string typed;
    std::vector<std::vector<std::string>> printerSets;
    std::string stopped;
    std::vector<std::string> asked;

    explicit Driver(std::string tests, bool manual = false, Suite suite = Suite::Devbench)
        : session("/tmp/p.sock", "opt=1", *parseTestList(tests, nullptr), suite)
    {
        if (manual) session.setManual();
    }

    // Feeds one byte at a time, so every question and line is cut everywhere.
    void out(const std::string& text, double seconds = 0)
    {
        clock += seconds;
        for (char c : text) {
            for (const Action& action : session.feed(std::string(1, c), clock)) {
                if (action.kind == Action::Write) typed += action.text;
                if (action.kind == Action::SetPrinter) printerSets.push_back(action.settings);
                if (action.kind == Action::Stop) stopped = action.text;
                if (action.kind == Action::Ask) asked.push_back(action.text);
            }
        }
    }

    // The verdicts as the program decides them, on the run's record.
    Verdict run(const std::string& broken = "")
    {
        RunOutcome outcome;
        outcome.records = session.records();
        outcome.strayFailures = session.strayFailures();
        outcome.broken = broken;
        RunRecord record;
        addRun(record, outcome, {});
        return runVerdict(record).verdict;
    }
    Verdict test(size_t i) const { return testVerdict(session.records().at(i)); }

    void begin()
    {
        out(start);
        out("\nEnter the port settings: ");
        out("\n" + menu);
    }
};

// Lines as (text, ended), whatever the pieces the output came in.
std::vector<std::pair<std::string, bool>> split(LineSplitter& lines, std::vector<std::string> chunks)
{
    std::vector<std::pair<std::string, bool>> out;
    for (const std::string& chunk : chunks) {
        lines.feed(chunk, [&](std::string_view text, bool ended) {
            out.emplace_back(text, ended);
            return true;
        });
    }
    return out;
}

TEST(LineSplitter, CutsLinesWhateverThePiecesAndBoundsALongOne)
{
    using Lines = std::vector<std::pair<std::string, bool>>;
    LineSplitter plain;
    EXPECT_EQ(split(plain, { "listening on /tmp/a", "b.sock\n\npage", " at x\r\nrest" }),
        (Lines { { "listening on /tmp/a"
                   "b.sock",
                     true },
            { "", true }, { "page at x\r", true } }));
    EXPECT_EQ(plain.pending(), "rest");
    // devbench.exe's CR LF, cut anywhere; a CR of its own stays.
    LineSplitter crlf(true);
    EXPECT_EQ(split(crlf, { "ab\r", "\ncd\r", "x\r\r", "\n\r" }), (Lines { { "ab", true }, { "cd\rx\r", true } }));
    EXPECT_EQ(crlf.pending(), "");
    EXPECT_EQ(split(crlf, { "e\n" }), (Lines { { "\re", true } }));
    LineSplitter lines;
    std::string longLine(LineSplitter::MAX_LINE * 2 + 5, 'x');
    Lines pieces = split(lines, { longLine + "\n" });
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], std::make_pair(std::string(LineSplitter::MAX_LINE, 'x'), false));
    EXPECT_EQ(pieces[1], std::make_pair(std::string(LineSplitter::MAX_LINE, 'x'), false));
    EXPECT_EQ(pieces[2], std::make_pair(std::string(5, 'x'), true));
}

TEST(Session, AnswersTheQuestionsOnlyOnceEachIsComplete)
{
    Driver d("0");
    d.out("devbench\nEnter the port name");
    EXPECT_EQ(d.typed, "");
    d.out(": ");
    EXPECT_EQ(d.typed, "/tmp/p.sock\n");
    d.out("\nEnter the port settings: ");
    EXPECT_EQ(d.typed, "/tmp/p.sock\nopt=1\n");
    d.out("\n" + menu);
    EXPECT_EQ(d.typed, "/tmp/p.sock\nopt=1\n0\n");
    d.out("\n\ntestOpenPort\n\n\n" + menu);
    EXPECT_EQ(d.typed, "/tmp/p.sock\nopt=1\n0\ne\n");
    d.out("\n\n");
    EXPECT_TRUE(d.session.finish(d.clock, nullptr));
    EXPECT_EQ(d.run(), Verdict::Pass);
    EXPECT_EQ(d.stopped, "");
}

TEST(Session, ChangesThePrinterBeforeAnsweringAPrompt)
{
    Driver d("14");
    d.begin();
    size_t before = d.typed.size();
    d.out("\n\ntestGetParsedStatusDisconnect\nMake the printer online, then hit enter\n");
    ASSERT_EQ(d.printerSets.size(), 1u);
    EXPECT_EQ(d.printerSets[0].back(), "online=yes");
    EXPECT_EQ(d.typed.substr(before), "\n");
    d.out("Disconnect the printer and hit enter\n");
    d.out("Connect the printer and make it offline (cover open + no paper), then hit enter\n");
    ASSERT_EQ(d.printerSets.size(), 3u);
    EXPECT_EQ(d.printerSets[1], std::vector<std::string> { "connected=no" });
    EXPECT_EQ(d.printerSets[2], (std::vector<std::string> { "connected=yes", "cover=open", "paper=out" }));
    EXPECT_EQ(d.typed.substr(before), "\n\n\n");
}

// devbench reads no input after this line: an Enter typed here would answer
// the next prompt before the operator has changed the printer for it.
TEST(Session, OpensTheCoverAtTheNowLineWithoutTyping)
{
    Driver d("18");
    d.begin();
    size_t before = d.typed.size();
    d.out("\n\ntestEndCheckedBlock\nMake the printer offline (cover open), NOW\n");
    ASSERT_EQ(d.printerSets.size(), 1u);
    EXPECT_EQ(d.printerSets[0], std::vector<std::string> { "cover=open" });
    EXPECT_EQ(d.typed.size(), before);
    // Nor does a technician's Enter go to devbench there.
    Driver byHand("18", true);
    byHand.begin();
    byHand.out("\n\ntestEndCheckedBlock\nMake the printer offline (cover open), NOW\n");
    EXPECT_FALSE(byHand.session.awaitingEnter());
    byHand.out("Make the printer online, then hit enter\n");
    EXPECT_TRUE(byHand.session.awaitingEnter());
}

TEST(Session, TheTwoEndCheckedBlockTestsAreToldApartByRunOrder)
{
    Driver d("a");
    d.begin();
    d.out("\n\n");
    const auto& tests = suiteTests();
    for (unsigned i = 0; i < suiteTestCount; ++i) {
        d.out(std::string(tests[i].banner) + "\n", 1.0 + i);
        if (i == 19) d.out("failure: line(77) EndCheckedBlock returned VX_FALSE\n");
        d.out("\n");
    }
    d.out("\n" + menu, 0.5);
    d.out("\n\n");
    EXPECT_TRUE(d.session.finish(d.clock, nullptr));
    const auto& records = d.session.records();
    ASSERT_EQ(records.size(), suiteTestCount);
    EXPECT_EQ(d.test(18), Verdict::Pass);
    EXPECT_EQ(d.test(19), Verdict::Fail);
    EXPECT_EQ(records[19].failures, std::vector<std::string> { "failure: line(77) EndCheckedBlock returned VX_FALSE" });
    EXPECT_DOUBLE_EQ(records[18].seconds(), 20.0);
    EXPECT_DOUBLE_EQ(records[20].seconds(), 0.5);
    EXPECT_EQ(d.run(), Verdict::Fail);
}

// Answering a prompt the operator does not know with a guess would make the
// verdict about a printer state nobody asked for.
TEST(Session, RefusesAnUnknownPromptInsteadOfGuessing)
{
    Driver d("3");
    d.begin();
    size_t before = d.typed.size();
    d.out("\n\ntestWrite\nMake the printer onlin, then hit enter\n");
    EXPECT_TRUE(d.session.stopped());
    EXPECT_NE(d.stopped.find("'Make the printer onlin, then hit enter'"), std::string::npos);
    EXPECT_NE(d.stopped.find("testWrite (3)"), std::string::npos);
    EXPECT_EQ(d.typed.size(), before);
    EXPECT_TRUE(d.printerSets.empty());
    EXPECT_EQ(d.run(d.stopped), Verdict::BrokeOff);
}

TEST(Session, OrdinaryOutputIsNotAPrompt)
{
    Driver d("6");
    d.begin();
    d.out("\n\ntestRead\nMake the printer online, then hit enter\ndevice firmware name: "
          "1b\n23\n2a\n2c\n56\nV31\n1a\n0\n\n");
    d.out("\n" + menu + "\n\n");
    EXPECT_EQ(d.stopped, "");
    EXPECT_TRUE(d.session.finish(d.clock, nullptr));
    EXPECT_EQ(d.run(), Verdict::Pass);
}

// Test Read prints its failures after "device firmware name: " or after a
// name character, on the same line.
TEST(Session, AFailureLineCountsWhereverItStartsInALine)
{
    for (std::string reply : { "", "1b\n23\n2a\n2c\n4e\nN" }) {
        Driver d("6");
        d.begin();
        d.out("\n\ntestRead\nMake the printer online, then hit enter\ndevice firmware name: " + reply
            + "failure: line(93) ReadPort timed out\n");
        d.out("\n" + menu + "\n\n");
        EXPECT_TRUE(d.session.finish(d.clock, nullptr));
        EXPECT_EQ(d.session.records()[0].failures, std::vector<std::string> { "failure: line(93) ReadPort timed out" });
        EXPECT_EQ(d.run(), Verdict::Fail);
    }
}

// A library that chatters without a newline puts devbench's failure line at
// the end of a line longer than the operator keeps whole: wherever the cut
// falls, in the failure's prefix or before it, the failure counts, and its
// text runs on to the end of the line.
TEST(Session, AFailureLineCountsAtAnyOffsetOfALongLine)
{
    const std::string failure = "failure: line(17) OpenPortA return NULL";
    std::vector<size_t> chatters = { 65531, 3 * LineSplitter::MAX_LINE - 7 };
    for (size_t cut = LineSplitter::MAX_LINE - failurePrefix.size(); cut <= LineSplitter::MAX_LINE; ++cut)
        chatters.push_back(cut);
    for (size_t chatter : chatters) {
        Driver d("0");
        d.begin();
        d.out("\n\ntestOpenPort\n" + std::string(chatter, 'c') + failure + "\n\n\n" + menu + "\n\n");
        EXPECT_TRUE(d.session.finish(d.clock, nullptr));
        EXPECT_EQ(d.session.records()[0].failures, std::vector<std::string> { failure }) << chatter;
        EXPECT_EQ(d.run(), Verdict::Fail) << chatter;
    }
}

// The rest of a long line is no banner, menu or prompt; a failure line is
// cut where a line is; lines are never joined.
TEST(Session, TheRestOfALongLineIsNoLineOfItsOwn)
{
    const std::string failure = "failure: line(17) OpenPortA return NULL";
    const std::string cut(LineSplitter::MAX_LINE, 'c');
    Driver d("a");
    d.begin();
    d.out("\n\ntestOpenPort\n" + cut + "testBadPortName\n" + cut + "Available tests:\n" + cut
        + "Make the printer onlin, then hit enter\n");
    d.out(std::string(LineSplitter::MAX_LINE - 5, 'c') + failure + cut + cut + "\n");
    d.out("failure: l\nine(5) joined\n\n\n" + menu);
    EXPECT_EQ(d.stopped, "");
    const auto& records = d.session.records();
    EXPECT_EQ(records[0].failures, std::vector<std::string> { (failure + cut).substr(0, LineSplitter::MAX_LINE) });
    EXPECT_FALSE(records[1].bannerSeen);
}

// A failure line cut short by devbench's end still fails the test.
TEST(Session, AFailureLineWithoutItsNewlineCountsAtTheEnd)
{
    Driver d("0");
    d.begin();
    d.out("\n\ntestOpenPort\nfailure: line(17) Open");
    std::string why;
    EXPECT_FALSE(d.session.finish(d.clock, &why));
    EXPECT_EQ(d.session.records()[0].failures, std::vector<std::string> { "failure: line(17) Open" });
}

// The library's own words go with the test devbench's markers put them in,
// however late they come beside its output, apart from its console and
// bounded as it is; devbench's own lines are read, not kept.
TEST(Session, StandardErrorIsKeptByTheTestItCameIn)
{
    Driver d("0,1");
    d.begin();
    EXPECT_EQ(d.session.feedStderr("devbench: OpenPortA is in /b/lib K.so (loaded at 0x7f00)\nbefore any test\n"),
        "before any test\n");
    EXPECT_EQ(d.session.libraryPath(), "/b/lib K.so");
    EXPECT_EQ(d.session.libraryBase(), "0x7f00");
    d.out("\n\ntestOpenPort\n");
    d.out("\n\nAvailable tests:\n");
    d.out(menu.substr(menu.find('\n') + 1) + "\n\ntestBadPortName\n");
    d.session.feedStderr("devbench: test 0 begins\nbad setting 'x'\n");
    d.session.feedStderr(std::string(MAX_CONSOLE_BYTES, 'e'));
    d.session.feedStderr("\nno newlinedevbench: test 0 ended\ndevbench: test 1 begins\nsecond\n");
    const auto& records = d.session.records();
    EXPECT_EQ(records[0].stderrText.substr(0, 16), "bad setting 'x'\n");
    EXPECT_EQ(records[0].stderrText.size(), MAX_CONSOLE_BYTES);
    EXPECT_EQ(records[0].stderrBytesDropped, 16u + 1u + 11u);
    EXPECT_EQ(records[0].console.find("bad setting"), std::string::npos);
    EXPECT_EQ(records[1].stderrText, "second\n");
    // devbench's answer to a failure goes beside it; its word that it cannot
    // tell its library is its own, not the library's.
    EXPECT_EQ(d.session.feedStderr("  answer(open-port): NULL, last error 87\n"
                                   "devbench: the file that provides OpenPortA cannot be told\n"),
        "  answer(open-port): NULL, last error 87\n");
    const TestRecord& second = d.session.records()[1];
    ASSERT_EQ(second.answers.size(), 1u);
    EXPECT_EQ(second.answers[0].check, "open-port");
    EXPECT_EQ(second.answers[0].answer, "NULL, last error 87");
    EXPECT_EQ(second.stderrText, "second\n");
}

// A mistyped port fails Test Open Port and every test after it: a technician
// is asked before the other tests' prompts, whether they come at the menu or
// inside a run of all tests.
TEST(Session, AFailedOpenInARunByHandAsksBeforeTheOtherTests)
{
    Driver byChoice("0,3", true);
    byChoice.begin();
    size_t before = byChoice.typed.size();
    byChoice.out("\n\ntestOpenPort\nfailure: line(17) OpenPortA return NULL\n\n\n" + menu);
    EXPECT_TRUE(byChoice.session.askingToGoOn());
    EXPECT_EQ(byChoice.typed.size(), before);
    for (const Action& action : byChoice.session.goOn(byChoice.clock)) {
        if (action.kind == Action::Write) byChoice.typed += action.text;
    }
    EXPECT_FALSE(byChoice.session.askingToGoOn());
    EXPECT_EQ(byChoice.typed.substr(before), "3\n");

    Driver all("a", true);
    all.begin();
    all.out("\n\ntestOpenPort\nfailure: line(17) OpenPortA return NULL\n\n\ntestBadPortName\n");
    EXPECT_FALSE(all.session.askingToGoOn());
    all.out("Make the printer online, then hit enter\n");
    EXPECT_TRUE(all.session.askingToGoOn());
    EXPECT_TRUE(all.session.awaitingEnter());

    // Neither a passing open nor a failed last test asks.
    for (std::string failure : { "", "failure: line(17) OpenPortA return NULL\n" }) {
        Driver d(failure.empty() ? "0,3" : "0", true);
        d.begin();
        d.out("\n\ntestOpenPort\n" + failure + "\n\n" + menu);
        EXPECT_FALSE(d.session.askingToGoOn());
    }
}

// devbench-extended's questions: the second name is typed from the run's
// other spelling (an empty one skips the step), a yes/no question goes to
// whoever looks at the printer; by hand the technician types both.
TEST(Session, DevbenchExtendedQuestionsAreAnsweredOrLeftToTheTechnician)
{
    const std::string yesNo = std::string(EXT_ASK_RESET) + EXT_YES_NO_END;
    for (bool manual : { false, true }) {
        Driver d("0", manual, Suite::Extended);
        d.session.setOtherPortName("/tmp/./p.sock");
        d.begin();
        size_t before = d.typed.size();
        d.out("\n\ntestLockOtherNames\n" EXT_ASK_OTHER_NAME);
        EXPECT_EQ(d.typed.substr(before), manual ? "" : "/tmp/./p.sock\n") << manual;
        EXPECT_EQ(d.session.awaitingLine(), manual);
        d.session.enterGiven();
        d.out("\n" + yesNo);
        EXPECT_EQ(d.asked, manual ? std::vector<std::string>() : std::vector<std::string> { EXT_ASK_RESET });
        EXPECT_EQ(d.session.awaitingLine(), manual);
        EXPECT_EQ(d.stopped, "");
    }
    Driver outside("0", false, Suite::Extended);
    outside.begin();
    outside.out("\n\n" + yesNo);
    EXPECT_NE(outside.stopped.find("a question outside any test"), std::string::npos) << outside.stopped;
}

// The second name names the same socket or port another way; a name it
// cannot respell gives none, and the procedure skips that step.
TEST(Session, TheOtherSpellingNamesTheSamePrinter)
{
    EXPECT_EQ(otherSpelling("/tmp/run/printer.sock"), "/tmp/run/./printer.sock");
    EXPECT_EQ(otherSpelling("127.0.0.1:9100"), "localhost:9100");
    EXPECT_EQ(otherSpelling("printer.example:9100"), "");
}

// The next choice's test is still told by its own banner.
TEST(Session, ATestWhoseBannerNeverCameIsNotAPass)
{
    Driver d("2,0");
    d.begin();
    d.out("\n\n\n" + menu);
    d.out("\n\ntestOpenPort\n\n\n" + menu + "\n\n");
    EXPECT_TRUE(d.session.finish(d.clock, nullptr));
    ASSERT_EQ(d.session.records().size(), 2u);
    EXPECT_EQ(d.test(0), Verdict::NotRun);
    EXPECT_EQ(d.test(1), Verdict::Pass);
    EXPECT_EQ(d.run(), Verdict::Fail);
}

// A test ends only when devbench is back at the menu's question: one that
// dies once the menu has begun broke off in that test, not between tests.
TEST(Session, DevbenchEndingMidTestIsReportedWhereItHappened)
{
    for (std::string after : { "", "\n\nAvailable tests:\n0 - Test Open Port\n" }) {
        Driver d("5,0");
        d.begin();
        d.out("\n\ntestWriteDisconnect\n" + after, 2);
        std::string why;
        EXPECT_FALSE(d.session.finish(d.clock + 1, &why));
        EXPECT_EQ(why, "devbench ended in testWriteDisconnect (5)");
        EXPECT_EQ(d.session.records()[0].console.find("Available"), std::string::npos);
        EXPECT_EQ(d.test(0), Verdict::BrokeOff);
        EXPECT_EQ(d.test(1), Verdict::NotRun);
        EXPECT_EQ(d.run(why), Verdict::BrokeOff);
    }
}

// Once the menu has begun, the test's output is over.
TEST(Session, AFailureLineOutsideAnyTestFailsTheRun)
{
    for (std::string where : { "menu", "after" }) {
        Driver d("1");
        d.begin();
        d.out("\n\ntestBadPortName\n\n\n");
        d.out(where == "menu" ? "Available tests:\nfailure: line(9) stray\n" + menu
                              : menu + "\n\nfailure: line(9) stray\n");
        d.out(where == "menu" ? "\n\n" : "");
        EXPECT_TRUE(d.session.finish(d.clock, nullptr));
        EXPECT_EQ(d.test(0), Verdict::Pass);
        EXPECT_EQ(d.session.strayFailures().size(), 1u);
        EXPECT_EQ(d.run(), Verdict::Fail);
    }
}

// A devbench stuck in a library call is ended with the run, not left behind
// holding the port.
TEST(Dialogue, EndsAStuckDevbenchWithTheRun)
{
    std::string pidFile = testing::TempDir() + "vpop-silent.pid";
    setenv("VPOP_PID_FILE", pidFile.c_str(), 1);
    RunOptions options;
    options.dir = testing::TempDir();
    options.devbench = VPOP_SOURCE_DIR "/operator/tests/fake_devbench_silent.sh";
    options.timeout = 0.5;
    Session session("/tmp/p.sock", "", *parseTestList("0", nullptr));
    RunOutcome outcome = converse(options, session, Answerer {});
    unsetenv("VPOP_PID_FILE");
    EXPECT_NE(outcome.broken.find("devbench printed nothing for 0.5 s"), std::string::npos) << outcome.broken;
    pid_t pid = 0;
    ASSERT_TRUE(std::ifstream(pidFile) >> pid);
    EXPECT_NE(kill(pid, 0), 0) << "devbench " << pid << " outlived the run";
}

} // namespace
