#include "cases/extended/checks.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

#ifdef _WIN32
static const char PROBE_PROGRAM[] = "holdprobe.exe";
static const char FOLDER_SEPARATOR = '\\';
#else
static const char PROBE_PROGRAM[] = "holdprobe";
static const char FOLDER_SEPARATOR = '/';
#endif
static const uint32_t PATH_SIZE = 4096;

static const unsigned char FIRMWARE_QUERY[] = { 0x1B, 0x23, 0x2A, 0x0A, 0x00 };
static const unsigned char REPLY_HEAD[] = { 0x1B, 0x23, 0x2A, 0x2C };
static const unsigned char NAME_END = 0x0A;
// As in Test Read: a name comes within seconds and is a few dozen characters.
static const uint32_t REPLY_TIME_LIMIT_MS = 20000;
static const unsigned REPLY_LENGTH_LIMIT = 1000;
static const uint32_t MOST_READ = 100;
// A run this long of the lent pattern inside a count was never written.
static const uint32_t UNWRITTEN_RUN = 4;

static const char* const CALL_NAMES[RECORD_CALLS]
    = { "GetParsedStatusEx", "GetParsedStatus", "BeginCheckedBlockEx", "EndCheckedBlockEx" };

const char* recordCallName(RecordCall call) { return CALL_NAMES[call]; }

static uint32_t recordSize(RecordCall call)
{
    return call == CALL_STATUS_OLD ? VX_STATUS_OLD_SIZE : VX_STATUS_LEVEL1_SIZE;
}

bool callRecord(PortHandle port, RecordCall call, unsigned char* area, unsigned line, VX_BOOL* result)
{
    unsigned char* record = lend(area, recordSize(call));
    switch (call) {
    case CALL_STATUS_EX:
        *result = GetParsedStatusEx(port, record, VX_STATUS_LEVEL_1);
        break;
    case CALL_STATUS_OLD:
        *result = GetParsedStatus(port, record);
        break;
    case CALL_BEGIN:
        *result = BeginCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
        break;
    case CALL_END:
        *result = EndCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
        break;
    }
    return checkLent(port, line, recordCallName(call), area, recordSize(call), "record");
}

bool expectWords(PortHandle port, RecordCall call, const unsigned char* record, CoverPaperOnline want, unsigned line)
{
    uint32_t paperEmpty = call == CALL_STATUS_OLD ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1;
    const char* name = recordCallName(call);
    VX_BOOL cover = statusWord(record, VX_OFFSET_COVER_OPEN);
    VX_BOOL offline = statusWord(record, VX_OFFSET_OFFLINE);
    VX_BOOL paper = statusWord(record, paperEmpty);
    if (cover != want.coverOpen)
        return closeAndFail(port, line, "%s: coverOpen is %d, not %d\n", name, cover, want.coverOpen);
    if (offline != want.offline)
        return closeAndFail(port, line, "%s: offline is %d, not %d\n", name, offline, want.offline);
    if (paper != want.paperEmpty)
        return closeAndFail(port, line, "%s: paperEmpty is %d, not %d\n", name, paper, want.paperEmpty);
    return true;
}

bool expectStatus(PortHandle port, RecordCall call, CoverPaperOnline want, unsigned line)
{
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!callRecord(port, call, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "%s returned VX_FALSE\n", recordCallName(call));
    return expectWords(port, call, lentPart(area), want, line);
}

// The probe in another folder is named whole, from the folder devbench-extended runs in.
static bool probePath(const char* folder, char* path)
{
    if (folder == nullptr) {
        snprintf(path, PATH_SIZE, "%s", PROBE_PROGRAM);
        return true;
    }
    char current[PATH_SIZE];
    if (!platform::currentFolder(current, sizeof current)) return false;
    int length = snprintf(path, PATH_SIZE, "%s%c%s", current, FOLDER_SEPARATOR, PROBE_PROGRAM);
    return length > 0 && static_cast<uint32_t>(length) < PATH_SIZE;
}

bool expectProbeRefused(
    PortHandle port, const char* name, const char* portSettings, const char* folder, unsigned line, const char* what)
{
    char path[PATH_SIZE];
    if (!probePath(folder, path)) return closeAndFail(port, line, "the current folder's name is too long\n");
    const char* const argv[] = { path, name, portSettings, ".", nullptr };
    int status = platform::waitProgram(platform::startProgram(path, argv, folder));
    if (status == 0) return true;
    if (platform::programEnd(status) != platform::PROGRAM_EXITED)
        return closeAndFail(
            port, line, "%s could not run (status %d); it must be in the current folder\n", PROBE_PROGRAM, status);
    return closeAndFail(port, line, "%s was not refused the port as held (183) %s\n", PROBE_PROGRAM, what);
}

bool writeLine(PortHandle port, const char* text, unsigned line)
{
    char buffer[ANSWER_SIZE];
    int length = snprintf(buffer, sizeof buffer, "%s\n", text);
    if (length <= 0 || static_cast<unsigned>(length) >= sizeof buffer)
        return closeAndFail(port, line, "the line is too long to send\n");
    WriteOutcome outcome = timedChunkedWrite(port, reinterpret_cast<unsigned char*>(buffer), length);
    return checkWriteOutcome(port, line, outcome);
}

// Where in the reply the next byte belongs: the head, the name, its end.
struct ReplyState {
    unsigned matched;
    unsigned length;
    bool nameEnded;
};

// True once the reply's closing NUL came; a byte out of place starts the
// reply over, as Test Read's reader does.
static bool takeReplyByte(unsigned char byte, ReplyState* state)
{
    ++state->length;
    if (state->nameEnded) {
        if (byte == 0x00) return true;
    } else if (state->matched < sizeof REPLY_HEAD) {
        if (byte == REPLY_HEAD[state->matched]) {
            ++state->matched;
            return false;
        }
    } else {
        state->nameEnded = byte == NAME_END;
        return false;
    }
    state->matched = 0;
    state->nameEnded = false;
    return false;
}

static uint32_t unwrittenTail(const unsigned char* bytes, uint32_t from, uint32_t count)
{
    uint32_t run = 0;
    for (uint32_t i = from; i < count; ++i) run = bytes[i] == GUARD_BYTE ? run + 1 : 0;
    return count - from == run ? run : 0;
}

// One read into lent buffers; false with the port closed and the line printed.
static bool readPiece(PortHandle port, unsigned char* area, uint32_t size, uint32_t* got, unsigned line)
{
    LentWord count;
    VX_BOOL result = ReadPort(port, lend(area, size), size, lendCount(&count));
    if (!checkLent(port, line, "ReadPort", area, size, "buffer")) return false;
    if (!checkLent(port, line, "ReadPort", count, "count")) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "ReadPort returned VX_FALSE\n");
    *got = lentValue(count);
    if (*got > size) return closeAndFail(port, line, "ReadPort reported more bytes than it was asked for\n");
    return true;
}

bool sendFirmwareQuery(PortHandle port, unsigned line)
{
    uint32_t written = 0;
    if (!checkWriteOutcome(port, line, lentWrite(port, FIRMWARE_QUERY, sizeof FIRMWARE_QUERY, &written))) return false;
    if (written != sizeof FIRMWARE_QUERY) return closeAndFail(port, line, "WritePort did not take the 5-byte query\n");
    return true;
}

bool expectFirmwareReply(PortHandle port, uint32_t readSize, unsigned line)
{
    unsigned char area[guardedSize(MOST_READ)];
    ReplyState state = { 0, 0, false };
    uint32_t start = platform::GetTickCount();
    uint32_t size = readSize < MOST_READ ? readSize : MOST_READ;
    while (platform::GetTickCount() - start < REPLY_TIME_LIMIT_MS && state.length <= REPLY_LENGTH_LIMIT) {
        uint32_t got = 0;
        if (!readPiece(port, area, size, &got, line)) return false;
        const unsigned char* bytes = lentPart(area);
        for (uint32_t i = 0; i < got; ++i) {
            if (!takeReplyByte(bytes[i], &state)) continue;
            uint32_t unwritten = unwrittenTail(bytes, i + 1, got);
            if (unwritten >= UNWRITTEN_RUN)
                return closeAndFail(port, line, "ReadPort counted %u bytes after the reply that it never wrote\n",
                    static_cast<unsigned>(unwritten));
            return true;
        }
    }
    return closeAndFail(port, line, "ReadPort did not give the whole firmware reply, %u bytes a call, within 20 s\n",
        static_cast<unsigned>(size));
}
