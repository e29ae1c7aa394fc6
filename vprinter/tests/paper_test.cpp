#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vprinter/paper.h"
#include "wire/control.h"

using namespace vprinter;
using namespace wire;

namespace {

const size_t RASTER_ROWS = 1600;
const size_t ROW_BYTES = 72;

// The suite's raster job: raster start, 1,600 rows of 72 bytes of 0xFF, ESC
// FF NUL, raster end, ten 0x07 and 75 zeros.
std::string rasterJob()
{
    std::string job = "\x1B*rR\x1B*rA";
    for (size_t row = 0; row < RASTER_ROWS; ++row) job += std::string("bH\0", 3) + std::string(ROW_BYTES, '\xFF');
    job += std::string("\x1B\x0C\0\x1B*rB", 7) + std::string(10, '\x07') + std::string(75, '\0');
    return job;
}

std::vector<Printed> print(const std::string& bytes)
{
    return printJob(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string kinds(const std::vector<Printed>& printed)
{
    static const char* NAMES[] = { "text", "raster", "cut", "stamp", "note" };
    std::string text;
    for (const Printed& p : printed) text += std::string(text.empty() ? "" : " ") + NAMES[p.kind];
    return text;
}

void take(Paper& paper, const std::string& bytes)
{
    paper.take(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
}

} // namespace

TEST(Paper, AsciiJobPrintsItsLines)
{
    std::string job(10000, 'X');
    for (size_t i = 0; i < job.size(); i += 40) job[i] = '\n';
    job.back() = '\n';
    std::vector<Printed> printed = print(job);
    ASSERT_EQ(kinds(printed), "text");
    const std::vector<std::string>& lines = printed[0].lines;
    ASSERT_EQ(lines.size(), 251u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], std::string(39, 'X'));
    EXPECT_EQ(lines.back(), std::string(38, 'X'));
}

TEST(Paper, RasterJobIsOneWholeImageThenACut)
{
    std::vector<Printed> printed = print(rasterJob());
    ASSERT_EQ(kinds(printed), "raster cut note");
    const RasterImage& image = printed[0].raster;
    EXPECT_EQ(image.widthDots(), 576u);
    ASSERT_EQ(image.rows.size(), RASTER_ROWS);
    EXPECT_EQ(image.rows.back().data, std::vector<uint8_t>(ROW_BYTES, 0xFF));
    EXPECT_TRUE(image.ended);
    EXPECT_EQ(image.shortRows(), 0u);
    EXPECT_EQ(image.strayBytes, 0u);
    EXPECT_EQ(printed[2].text, "85 bytes that print nothing: 75 x 00, 10 x 07");
}

// Cut off in the middle of a row, or with bytes missing from the middle: the
// image shows what arrived, and says it is not whole.
TEST(Paper, TornRasterLooksTorn)
{
    std::string job = rasterJob();
    std::vector<Printed> cut = print(job.substr(0, 60000));
    ASSERT_EQ(kinds(cut), "raster");
    const RasterImage& image = cut[0].raster;
    EXPECT_FALSE(image.ended);
    ASSERT_EQ(image.rows.size(), 800u);
    EXPECT_EQ(image.rows.back().declared, ROW_BYTES);
    EXPECT_EQ(image.rows.back().data.size(), 64u);
    EXPECT_EQ(image.shortRows(), 1u);

    std::vector<Printed> dropped = print(job.substr(0, 30000) + job.substr(30000 + 4096));
    ASSERT_EQ(kinds(dropped), "raster cut note");
    EXPECT_NE(dropped[0].raster.rows.size(), RASTER_ROWS);
    EXPECT_GT(dropped[0].raster.strayBytes, 0u);

    std::vector<Printed> inHeader = print(job.substr(0, 8 + 75 + 2));
    ASSERT_EQ(kinds(inHeader), "raster note");
    EXPECT_TRUE(inHeader[1].broken);
}

TEST(Paper, FormFeedCutsAndValidationStamps)
{
    std::vector<Printed> printed = print("AB\x0C"
                                         "CD\n\x1B+A3\n\n\n\n\n\n"
                                         "EF\x1B\x0C");
    ASSERT_EQ(kinds(printed), "text cut text stamp text cut");
    EXPECT_EQ(printed[0].lines, std::vector<std::string> { "AB" });
    EXPECT_EQ(printed[3].text, "validated 3");
    EXPECT_EQ(printed[4].lines, std::vector<std::string> { "EF" });
}

TEST(Paper, CommandsThatPrintNothingAreNotes)
{
    std::vector<Printed> printed = print(std::string("\x1B#*\n\0\x1BK\x01\0\x1BQ\x1B#", 13));
    ASSERT_EQ(kinds(printed), "note note note note");
    EXPECT_EQ(printed[0].text, "firmware query");
    EXPECT_EQ(printed[1].text, "recover (ESC K)");
    EXPECT_EQ(printed[2].text, "unknown command 1B 51");
    EXPECT_TRUE(printed[3].broken) << printed[3].text;
}

// A job is what comes between two boundaries, counted and digested whole.
TEST(Paper, JobsSplitAtBoundariesAndKeepTheirDigests)
{
    Paper paper;
    paper.endJob();
    take(paper, "ab");
    take(paper, "c");
    paper.endJob();
    paper.endJob();
    take(paper, "");
    take(paper, "xyz");
    ASSERT_EQ(paper.jobs().size(), 2u);
    EXPECT_EQ(describeJobs(paper),
        "jobs=2\n"
        "job.1=3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"
        "job.2=3 3608bca1e44ea6c4d268eb6db02260269892c0b42b86bbf1e77a6fa16c3c9282\n");
}

// A long run forgets its oldest jobs, not their numbers.
TEST(Paper, OldJobsAreForgottenPastTheLimits)
{
    Paper paper;
    for (int i = 0; i < 300; ++i) {
        take(paper, "job");
        paper.endJob();
    }
    EXPECT_EQ(paper.jobCount(), 300u);
    EXPECT_LT(paper.jobs().size(), 300u);
    EXPECT_EQ(paper.jobs().back().number, 300u);
    EXPECT_EQ(paper.job(1), nullptr);

    std::string big(600 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        take(paper, big);
        take(paper, big);
        paper.endJob();
    }
    const Job& last = paper.jobs().back();
    EXPECT_EQ(last.size, 2 * big.size());
    EXPECT_LT(last.bytes.size(), last.size) << "a job keeps what one reply carries";
    EXPECT_EQ(last.sha256(), sha256Hex(reinterpret_cast<const uint8_t*>((big + big).data()), last.size));
    size_t kept = 0;
    for (const Job& job : paper.jobs()) kept += job.bytes.size();
    EXPECT_LE(kept, 16u << 20);
}

// The page reads the paper's order through the control client's parser: the
// two agree, sessions close together are one line, and nothing a client
// sends grows the dividers past their limit.
TEST(Paper, DividersMarkTestsSumUpSessionsAndStayBounded)
{
    Paper paper;
    ASSERT_TRUE(paper.mark("Test Open Port", 1000, nullptr));
    for (int i = 0; i < 100; ++i) {
        paper.sessionOpened(2000 + i);
        paper.sessionClosed(2000 + i);
    }
    paper.sessionOpened(5000);
    take(paper, "printed");
    paper.sessionClosed(5001);
    std::vector<wire::PaperEntry> order = wire::paperFromText(describePaperOrder(paper));
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(order[0].kind, wire::PaperEntry::Mark);
    EXPECT_EQ(order[0].text, "Test Open Port");
    EXPECT_EQ(order[1].opened, 100u);
    EXPECT_EQ(order[1].closed, 100u);
    EXPECT_EQ(order[1].lastMs, 2099u);
    EXPECT_EQ(order[2].opened, 1u) << "a session seconds later is a divider of its own";
    EXPECT_EQ(order[3].kind, wire::PaperEntry::Job);
    EXPECT_EQ(order[3].job, 1u);
    EXPECT_EQ(order[3].timeMs, 0u);
    EXPECT_EQ(order[4].closed, 1u) << "a session that printed closes on the other side of its job";

    std::string error;
    EXPECT_FALSE(paper.mark("two\nlines", 0, &error));
    EXPECT_FALSE(paper.mark(std::string(MARK_TEXT_LIMIT + 1, 'x'), 0, &error));
    EXPECT_FALSE(paper.mark("", 0, &error));
    EXPECT_NE(error.find("printable ASCII"), std::string::npos);
    for (int i = 0; i < 5000; ++i) paper.mark(std::string(MARK_TEXT_LIMIT, 'm'), 0, nullptr);
    EXPECT_LE(paper.dividers().size(), 512u);
    EXPECT_LT(describePaperOrder(paper).size(), 512u * (MARK_TEXT_LIMIT + 64));
}

// A hostile job is drawn small: equal parts in a row as one, and past the
// limits a last note that still says whether the rest is broken.
TEST(Paper, LongJobsAreMergedAndSummedUp)
{
    std::vector<Printed> feeds = print(std::string(5000, '\x0C'));
    ASSERT_EQ(kinds(feeds), "cut");
    EXPECT_EQ(feeds[0].count, 5000u);

    std::string alternating;
    for (int i = 0; i < 5000; ++i) alternating += "A\x01";
    for (const std::string& tail : { std::string("B\n"), std::string("B\x1B") }) {
        std::vector<Printed> printed = print(alternating + tail);
        ASSERT_EQ(printed.size(), PRINTED_PARTS_LIMIT + 1);
        EXPECT_NE(printed.back().text.find("not drawn"), std::string::npos) << printed.back().text;
        EXPECT_EQ(printed.back().broken, tail.back() == '\x1B') << "a job that ends inside a command is broken";
    }
    std::vector<Printed> lines = print(std::string(PRINTED_LINES_LIMIT * 2, '\n'));
    ASSERT_EQ(kinds(lines), "text note");
    EXPECT_EQ(lines[0].lines.size(), PRINTED_LINES_LIMIT);
}
