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

static const Wanted WANT_COVER[] = { { "coverOpen", "0" }, { "coverOpen", "1" } };
static const Wanted WANT_OFFLINE[] = { { "offline", "0" }, { "offline", "1" } };
static const Wanted WANT_PAPER[] = { { "paperEmpty", "0" }, { "paperEmpty", "1" } };
static const Wanted WANT_PROBE_REFUSED = { "", "holdprobe's copy refused the port with 183 (status 0)" };
static const Wanted WANT_PROBE_LET_IN = { "last error", "a port free for another process at once" };
static const Wanted WANT_RUNNABLE = { "", "holdprobe in the current folder" };
static const Wanted WANT_NOTHING = { "", "nothing of the library: a fault of this computer" };
static const Wanted WANT_WHOLE_QUERY = { "count", "5" };
static const Wanted WANT_COUNT_IN_RANGE = { "count", "a count of at most the buffer's size" };
static const Wanted WANT_WRITTEN_COUNT = { "count", "only bytes the library wrote" };
static const Wanted WANT_REPLY_IN_TIME = { "count", "the whole reply within 20 s" };

// An exact word the want names, 0 or 1.
static const Wanted& wanted(const Wanted* pair, VX_BOOL value) { return pair[value == 0 ? 0 : 1]; }

bool expectWords(
    PortHandle port, const StatusQuery& query, const unsigned char* record, CoverPaperOnline want, Check check)
{
    VX_BOOL cover = statusWord(record, VX_OFFSET_COVER_OPEN);
    VX_BOOL offline = statusWord(record, VX_OFFSET_OFFLINE);
    VX_BOOL paper = statusWord(record, query.paperEmptyOffset);
    if (cover != want.coverOpen)
        return closeAndFail(port, check, wanted(WANT_COVER, want.coverOpen), "%s: coverOpen is %d, not %d\n",
            query.name, cover, want.coverOpen);
    if (offline != want.offline)
        return closeAndFail(port, check, wanted(WANT_OFFLINE, want.offline), "%s: offline is %d, not %d\n", query.name,
            offline, want.offline);
    if (paper != want.paperEmpty)
        return closeAndFail(port, check, wanted(WANT_PAPER, want.paperEmpty), "%s: paperEmpty is %d, not %d\n",
            query.name, paper, want.paperEmpty);
    return true;
}

bool expectStatus(PortHandle port, const StatusQuery& query, CoverPaperOnline want, Check check)
{
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, query, area, check, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, check, WANT_SUCCESS, "%s returned VX_FALSE\n", query.name);
    return expectWords(port, query, lentPart(area), want, check);
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

// Runs holdprobe's child role: its exit status (0: refused with the held
// code), or -1 with the line printed when it could not be started from here.
static int probeStatus(const char* name, const char* portSettings, const char* folder, Check check)
{
    char path[PATH_SIZE];
    if (!probePath(folder, path)) {
        failure(check, WANT_NOTHING, "the current folder's name is too long\n");
        return -1;
    }
    const char* const argv[] = { path, name, portSettings, ".", nullptr };
    int status = platform::waitProgram(platform::startProgram(path, argv, folder));
    noteExitStatus("holdprobe", status);
    if (status == 0 || platform::programEnd(status) == platform::PROGRAM_EXITED) return status;
    failure(check, WANT_RUNNABLE, "%s could not run (status %d); it must be in the current folder\n", PROBE_PROGRAM,
        status);
    return -1;
}

bool expectProbeRefused(
    PortHandle port, const char* name, const char* portSettings, const char* folder, Check check, const char* what)
{
    int status = probeStatus(name, portSettings, folder, check);
    if (status == 0) return true;
    if (status > 0)
        failure(check, WANT_PROBE_REFUSED, "%s was not refused the port as held (183) %s\n", PROBE_PROGRAM, what);
    noteCall("ClosePort", ClosePort(port));
    return false;
}

bool expectProbeLetIn(const char* name, const char* portSettings, Check check, const char* what)
{
    int status = probeStatus(name, portSettings, nullptr, check);
    if (status > 0) return true;
    if (status == 0)
        failure(check, WANT_PROBE_LET_IN, "%s was refused the port as held (183) %s\n", PROBE_PROGRAM, what);
    return false;
}

bool writeLine(PortHandle port, const char* text, Check check)
{
    char buffer[ANSWER_SIZE];
    int length = snprintf(buffer, sizeof buffer, "%s\n", text);
    if (length <= 0 || static_cast<unsigned>(length) >= sizeof buffer)
        return closeAndFail(port, check, WANT_NOTHING, "the line is too long to send\n");
    WriteOutcome outcome = timedChunkedWrite(port, reinterpret_cast<unsigned char*>(buffer), length);
    return checkWriteOutcome(port, check, outcome);
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

bool lentRead(PortHandle port, unsigned char* area, uint32_t size, Check check, VX_BOOL* result, uint32_t* got)
{
    LentWord count;
    *result = noteCall("ReadPort", ReadPort(port, lend(area, size), size, lendCount(&count)));
    noteValue("count", lentValue(count));
    if (!checkLent(port, check, "ReadPort", area, size, "buffer")) return false;
    if (!checkLent(port, check, "ReadPort", count, "count")) return false;
    *got = lentValue(count);
    if (*got <= size || *result == VX_FALSE) return true;
    return closeAndFail(port, check, WANT_COUNT_IN_RANGE, "ReadPort reported more bytes than it was asked for\n");
}

// One read that must succeed; false with the port closed and the line printed.
static bool readPiece(PortHandle port, unsigned char* area, uint32_t size, uint32_t* got, Check check)
{
    VX_BOOL result = VX_FALSE;
    if (!lentRead(port, area, size, check, &result, got)) return false;
    if (result == VX_FALSE) return closeAndFail(port, check, WANT_SUCCESS, "ReadPort returned VX_FALSE\n");
    return true;
}

bool sendFirmwareQuery(PortHandle port, Check check)
{
    uint32_t written = 0;
    if (!checkWriteOutcome(port, check, lentWrite(port, FIRMWARE_QUERY, sizeof FIRMWARE_QUERY, &written))) return false;
    if (written != sizeof FIRMWARE_QUERY)
        return closeAndFail(port, check, WANT_WHOLE_QUERY, "WritePort did not take the 5-byte query\n");
    return true;
}

bool expectFirmwareReply(PortHandle port, uint32_t readSize, Check check)
{
    unsigned char area[guardedSize(MOST_READ)];
    ReplyState state = { 0, 0, false };
    uint32_t start = platform::GetTickCount();
    uint32_t size = readSize < MOST_READ ? readSize : MOST_READ;
    while (platform::GetTickCount() - start < REPLY_TIME_LIMIT_MS && state.length <= REPLY_LENGTH_LIMIT) {
        uint32_t got = 0;
        if (!readPiece(port, area, size, &got, check)) return false;
        const unsigned char* bytes = lentPart(area);
        for (uint32_t i = 0; i < got; ++i) {
            if (!takeReplyByte(bytes[i], &state)) continue;
            uint32_t unwritten = unwrittenTail(bytes, i + 1, got);
            if (unwritten >= UNWRITTEN_RUN)
                return closeAndFail(port, check, WANT_WRITTEN_COUNT,
                    "ReadPort counted %u bytes after the reply that it never wrote\n",
                    static_cast<unsigned>(unwritten));
            return true;
        }
    }
    return closeAndFail(port, check, WANT_REPLY_IN_TIME,
        "ReadPort did not give the whole firmware reply, %u bytes a call, within 20 s\n", static_cast<unsigned>(size));
}
