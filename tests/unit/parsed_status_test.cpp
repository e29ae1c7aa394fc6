#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/fake_port.h"
#include "tests/unit/status_script.h"

namespace {

using script::State;

const std::string ONLINE_PROMPT = "Make the printer online, then hit enter\n";
const std::string COVER_AND_PAPER_PROMPT = "Make the printer offline (cover open + no paper), then hit enter\n";
const std::string TOO_LONG = "GetParsedStatus took toooooooo looooooooooooong\n";

State with(State state, uint32_t offset, VX_BOOL value)
{
    state.words[offset] = value;
    return state;
}

State taking(State state, uint32_t milliseconds)
{
    state.callMs = milliseconds;
    return state;
}

class ParsedStatusTests : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
};

struct RecordKind {
    TestProcedure test;
    const char* banner;
    const char* call;
    const char* otherCall;
    uint32_t paperEmpty;
    uint32_t otherPaperEmpty;
};

const RecordKind RECORD_KINDS[] = {
    { testGetParsedStatus, "testGetParsedStatus", "GetParsedStatusEx", "GetParsedStatus", VX_OFFSET_PAPER_EMPTY_LEVEL1,
        VX_OFFSET_PAPER_EMPTY_OLD },
    { testOldGetParsedStatus, "testOldGetParsedStatus", "GetParsedStatus", "GetParsedStatusEx",
        VX_OFFSET_PAPER_EMPTY_OLD, VX_OFFSET_PAPER_EMPTY_LEVEL1 },
};

TEST_F(ParsedStatusTests, EachRecordIsQueriedByItsOwnCallAndRecoveredWithOneEscK)
{
    for (const RecordKind& kind : RECORD_KINDS) {
        SCOPED_TRACE(kind.banner);
        fake::reset();
        script::follow({ script::online(), script::coverAndPaperOut(kind.paperEmpty), script::online() });
        std::vector<std::string> writes;
        fake::library().write = [&](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
            writes.emplace_back(static_cast<const char*>(bytes), size);
            // A count of 0 must not make the suite resend the command.
            *written = 0;
            return VX_TRUE;
        };
        bool passed = false;
        std::string out = script::run(kind.test, passed);
        EXPECT_TRUE(passed) << out;
        EXPECT_EQ(out, std::string(kind.banner) + "\n" + ONLINE_PROMPT + COVER_AND_PAPER_PROMPT + ONLINE_PROMPT);
        EXPECT_EQ(fake::count(kind.call), 3u);
        EXPECT_EQ(fake::count(kind.otherCall), 0u);
        EXPECT_EQ(writes, std::vector<std::string>({ std::string("\x1B\x4B\x01\x00", 4) }));
        script::expectCleanCalls();
    }
}

TEST_F(ParsedStatusTests, CoverAndPaperCheckWantsEachFlagExactlyOneInItsRecordsPlace)
{
    for (const RecordKind& kind : RECORD_KINDS) {
        const State right = script::coverAndPaperOut(kind.paperEmpty);
        const State spoilt[] = {
            script::coverAndPaperOut(kind.otherPaperEmpty),
            with(right, VX_OFFSET_OFFLINE, 2),
            with(right, VX_OFFSET_COVER_OPEN, 2),
            with(right, kind.paperEmpty, 2),
        };
        for (const State& state : spoilt) {
            SCOPED_TRACE(testing::Message() << kind.banner << ", spoilt state " << (&state - spoilt));
            fake::reset();
            script::follow({ script::online(), state, script::online() });
            bool passed = true;
            std::string out = script::run(kind.test, passed);
            EXPECT_FALSE(passed);
            script::expectFailure(out, "status.offline != VX_TRUE\n");
        }
    }
}

// Online, the cover is shut and there is paper; with the cover open and no
// paper, the online query says offline too.
TEST_F(ParsedStatusTests, EachStepChecksEveryWordItsStateFixes)
{
    struct Row {
        size_t prompt; // the state after this prompt (1-based) is spoilt
        uint32_t offset;
        VX_BOOL value;
        const char* failure;
        bool onlineQuerySaysOnline = false;
    };
    for (const RecordKind& kind : RECORD_KINDS) {
        const Row rows[] = {
            { 1, VX_OFFSET_COVER_OPEN, 1, "status.coverOpen != VX_FALSE\n" },
            { 1, kind.paperEmpty, 2, "status.paperEmpty != VX_FALSE\n" },
            { 2, VX_OFFSET_OFFLINE, 1, "onlineStatus != VX_FALSE\n", true },
            { 3, VX_OFFSET_COVER_OPEN, -1, "status.coverOpen != VX_FALSE\n" },
            { 3, kind.paperEmpty, 1, "status.paperEmpty != VX_FALSE\n" },
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << kind.banner << ", prompt " << row.prompt << ": " << row.failure);
            fake::reset();
            script::Script printer = { script::online(), script::coverAndPaperOut(kind.paperEmpty), script::online() };
            printer[row.prompt - 1] = with(printer[row.prompt - 1], row.offset, row.value);
            script::follow(printer);
            if (row.onlineQuerySaysOnline) {
                fake::library().onlineStatus = [](PortHandle, VX_BOOL* online) {
                    *online = VX_TRUE;
                    return VX_TRUE;
                };
            }
            bool passed = true;
            std::string out = script::run(kind.test, passed);
            EXPECT_FALSE(passed);
            script::expectFailure(out, row.failure);
        }
    }
}

TEST_F(ParsedStatusTests, FirstQueryMayTakeTwoHundredTicksAcrossTheWrap)
{
    struct Row {
        TestProcedure test;
        uint32_t clockStart;
        uint32_t callMs;
        const char* failure; // nullptr: passes
    };
    const uint32_t nearWrap = 0xFFFFFFFFu - 99;
    const Row rows[] = {
        { testGetParsedStatus, 1000, 200, nullptr },
        { testGetParsedStatus, 1000, 201, TOO_LONG.c_str() },
        { testOldGetParsedStatus, 1000, 200, nullptr },
        { testOldGetParsedStatus, 1000, 201, TOO_LONG.c_str() },
        { testHybridGetParsedStatus, 1000, 201, TOO_LONG.c_str() },
        { testGetParsedStatus, nearWrap, 200, nullptr },
        { testGetParsedStatus, nearWrap, 201, TOO_LONG.c_str() },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "start " << row.clockStart << ", call " << row.callMs << " ms");
        fake::reset(row.clockStart);
        uint32_t paperEmpty
            = row.test == testOldGetParsedStatus ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1;
        script::follow(
            { taking(script::online(), row.callMs), script::coverAndPaperOut(paperEmpty), script::online() });
        bool passed = row.failure != nullptr;
        std::string out = script::run(row.test, passed);
        if (row.failure == nullptr) {
            EXPECT_TRUE(passed) << out;
            EXPECT_EQ(out.find("failure"), std::string::npos) << out;
        } else {
            EXPECT_FALSE(passed);
            script::expectFailure(out, row.failure);
        }
    }
}

TEST_F(ParsedStatusTests, OfflineFirstQueryFailsOnOfflineBeforeTime)
{
    struct Row {
        TestProcedure test;
        const char* failure;
    };
    const Row rows[] = {
        { testGetParsedStatus, "offlineStatus != VX_FALSE\n" },
        { testOldGetParsedStatus, "offlineStatus != VX_FALSE\n" },
        { testHybridGetParsedStatus, "offlineStatus == VX_FALSE\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failure);
        fake::reset();
        script::follow({ taking(with(script::online(), VX_OFFSET_OFFLINE, 1), 500) });
        bool passed = true;
        std::string out = script::run(row.test, passed);
        EXPECT_FALSE(passed);
        script::expectFailure(out, row.failure);
    }
}

TEST_F(ParsedStatusTests, DisconnectTestsPassOnlyWhenTheCallFailsWhileDisconnected)
{
    struct Row {
        TestProcedure test;
        const char* banner;
        const char* call;
    };
    const Row rows[] = {
        { testGetParsedStatusDisconnect, "testGetParsedStatusDisconnect", "GetParsedStatusEx" },
        { testBeginCheckedBlockDisconnect, "testBeginCheckedBlockDisconnect", "BeginCheckedBlockEx" },
    };
    const State cover = script::coverAndPaperOut(VX_OFFSET_PAPER_EMPTY_LEVEL1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.banner);
        fake::reset();
        script::follow({ script::online(), script::disconnected(), cover });
        bool passed = false;
        std::string out = script::run(row.test, passed);
        EXPECT_TRUE(passed) << out;
        EXPECT_EQ(out,
            std::string(row.banner) + "\n" + ONLINE_PROMPT + "Disconnect the printer and hit enter\n"
                + "Connect the printer and make it offline (cover open + no paper), then hit enter\n");
        EXPECT_EQ(fake::count(row.call), 3u);
        EXPECT_EQ(fake::library().calls.size(), 5u); // open, three calls, close
        script::expectCleanCalls();

        fake::reset();
        script::follow({ script::online(), script::online(), cover });
        passed = true;
        out = script::run(row.test, passed);
        EXPECT_FALSE(passed);
        script::expectFailure(out, "GetParsedStatus did not fail as expected\n");

        fake::reset();
        script::follow({ script::online(), script::disconnected(), with(cover, VX_OFFSET_COVER_OPEN, 0) });
        passed = true;
        out = script::run(row.test, passed);
        EXPECT_FALSE(passed);
        script::expectFailure(out, "status.offline != VX_TRUE\n");
    }
}

// The printer as an operator who does everything right leaves it after each
// of the hybrid test's nine prompts.
script::Script hybridPrinter(VX_BOOL present, VX_BOOL absent)
{
    return {
        script::online(),
        with(script::online(), VX_OFFSET_SLIP_BOF, present),
        with(script::online(), VX_OFFSET_SLIP_BOF, absent),
        with(script::online(), VX_OFFSET_SLIP_TOF, present),
        with(script::online(), VX_OFFSET_SLIP_TOF, absent),
        with(script::online(), VX_OFFSET_SLIP_COF, present),
        with(script::online(), VX_OFFSET_SLIP_COF, absent),
        with(script::online(), VX_OFFSET_VALIDATION_PAPER_PRESENCE, present),
        with(script::online(), VX_OFFSET_VALIDATION_PAPER_PRESENCE, absent),
    };
}

// A put-in flag may hold the sensor's bit, and the slip steps do not look at
// the cover or the roll's paper, which a library may report the slip in.
script::Script sensorBitPrinter()
{
    script::Script printer = hybridPrinter(VX_TRUE, VX_FALSE);
    const uint32_t flags[]
        = { VX_OFFSET_SLIP_BOF, VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_VALIDATION_PAPER_PRESENCE };
    for (size_t step = 1; step < printer.size(); step += 2) {
        printer[step] = with(printer[step], flags[step / 2], 1 << (step / 2 + 1));
        printer[step] = with(printer[step], VX_OFFSET_PAPER_EMPTY_LEVEL1, 1);
    }
    return printer;
}

TEST_F(ParsedStatusTests, HybridSendsTheValidationCommandAndWaitsBeforeTheSlipIsRead)
{
    for (const script::Script& printer : { hybridPrinter(VX_TRUE, VX_FALSE), sensorBitPrinter() }) {
        fake::reset();
        std::vector<uint64_t> sleptAtQuery;
        fake::library().parsedStatus = [&](PortHandle, unsigned char* record, uint32_t size) {
            sleptAtQuery.push_back(fake::slept());
            return script::report(printer, record, size);
        };
        std::vector<std::string> writes;
        fake::library().write = [&](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
            writes.emplace_back(static_cast<const char*>(bytes), size);
            *written = size;
            return VX_TRUE;
        };
        bool passed = false;
        std::string out = script::run(testHybridGetParsedStatus, passed);
        EXPECT_TRUE(passed) << out;
        EXPECT_EQ(out,
            "testHybridGetParsedStatus\n" + ONLINE_PROMPT + "Put paper in the BOF, then hit enter\n"
                + "Take the paper out of the BOF, then hit enter\n" + "Put paper in the TOF, then hit enter\n"
                + "Take the paper out of the TOF, then hit enter\n"
                + "Put the paper in the BOF and wait for it to be validated, then hit enter\n"
                + "Take the paper out the slip, then hit enter\n"
                + "Put paper in the COF and wait for the paper to be validated, then hit enter\n"
                + "Take the paper out of the COF, then hit enter\n");
        EXPECT_EQ(writes, std::vector<std::string>({ std::string("\x1B\x2B\x41\x33\x0A\x0A\x0A\x0A\x0A\x0A", 10) }));
        EXPECT_EQ(sleptAtQuery, std::vector<uint64_t>({ 0, 0, 0, 0, 0, 5000, 5000, 5000, 5000 }));
        script::expectCleanCalls();
    }
}

TEST_F(ParsedStatusTests, HybridStepFailsOnItsOwnLine)
{
    struct Row {
        size_t prompt; // the state after this prompt (1-based) is spoilt
        uint32_t offset;
        VX_BOOL value;
        const char* failure;
    };
    const Row rows[] = {
        { 2, VX_OFFSET_SLIP_BOF, 0, "status.slipBOF == VX_FALSE\n" },
        // Taken out is exactly 0: a flag stuck at -1 or 2 fails there.
        { 3, VX_OFFSET_SLIP_BOF, 1, "status.slipBOF == VX_TRUE\n" },
        { 3, VX_OFFSET_SLIP_BOF, -1, "status.slipBOF == VX_TRUE\n" },
        { 3, VX_OFFSET_SLIP_BOF, 2, "status.slipBOF == VX_TRUE\n" },
        // Online at the first step, the cover is shut and there is paper.
        { 1, VX_OFFSET_PAPER_EMPTY_LEVEL1, 1, "status.paperEmpty != VX_FALSE\n" },
        { 4, VX_OFFSET_SLIP_TOF, 0, "status.slipTOF == VX_FALSE\n" },
        // Offline while the paper is in the TOF is reported as the TOF check.
        { 4, VX_OFFSET_OFFLINE, 1, "status.slipTOF == VX_FALSE\n" },
        { 5, VX_OFFSET_SLIP_TOF, 1, "status.slipTOF == VX_TRUE\n" },
        { 6, VX_OFFSET_SLIP_COF, 0, "status.slipCOF == VX_FALSE\n" },
        { 7, VX_OFFSET_SLIP_COF, 1, "status.slipCOF != VX_TRUE\n" },
        { 7, VX_OFFSET_OFFLINE, 2, "status.slipCOF != VX_TRUE\n" },
        { 8, VX_OFFSET_VALIDATION_PAPER_PRESENCE, 0, "status.validationPaperPresence == VX_FALSE\n" },
        { 9, VX_OFFSET_VALIDATION_PAPER_PRESENCE, 1, "status.validationPaperPresence == VX_TRUE\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "prompt " << row.prompt << ": " << row.failure);
        fake::reset();
        script::Script printer = hybridPrinter(VX_TRUE, VX_FALSE);
        printer[row.prompt - 1] = with(printer[row.prompt - 1], row.offset, row.value);
        script::follow(printer);
        bool passed = true;
        std::string out = script::run(testHybridGetParsedStatus, passed);
        EXPECT_FALSE(passed);
        script::expectFailure(out, row.failure);
        EXPECT_EQ(fake::count("GetParsedStatusEx"), row.prompt);
    }
}

} // namespace
