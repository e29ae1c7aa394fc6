// The stand-in KelmorPort: the port name says where a virtual printer
// listens, the settings string carries this library's own options, and every
// operation is one request to the printer over a session that is re-opened
// by itself after the printer was unplugged.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "portlib/KelmorPort.h"
#include "standin/named_entry.h"
#include "standin/side_files.h"
#include "standin/variations.h"
#include "wire/endpoint.h"
#include "wire/fault_option.h"
#include "wire/portlock.h"
#include "wire/protocol.h"
#include "wire/transport.h"

namespace {

using namespace wire;

const uint32_t DEFAULT_TIME_LIMIT_MS = 5000;
const uint32_t MAX_TIME_LIMIT_MS = 10 * 60 * 1000;
// The printer answers an ended block at the limit it was given; this is for
// the reply itself to arrive.
const uint32_t END_BLOCK_MARGIN_MS = 2000;
// Between the tries of a call under unplugged-retry.
const uint32_t RETRY_PAUSE_MS = 100;

// Faults this library can be asked to show, for testing how the suite copes
// with a misbehaving library. Each is one entry of FAULTS below.
struct Faults {
    uint32_t refuseOpen = 0;
    uint32_t chattyRefusal = 0;
    uint32_t chunk = 0;
    bool countOver = false;
    bool onlineFlag2 = false;
    bool noExclusive = false;
    uint32_t stallStatusMs = 0;
    bool paperOffset = false;
    bool noReconnect = false;
    bool keepLock = false;
    bool acceptNothing = false;
    bool offlineStuck0 = false;
    bool slipZero = false;
    bool ignoreDisconnect = false;
    bool loseTerminator = false;
    bool crashHeld = false;
    uint32_t closeFailsAfter = 0;
    bool onlineKeepsFlag = false;
    bool readKeepsCount = false;
    bool writeKeepsCount = false;
    uint32_t dropAfter = 0;
    bool oldRecordAtLevel1Size = false;
    uint32_t longStatusRecord = 0;
    uint32_t longBlockRecord = 0;
    bool coverLatched = false;
    bool offlineCoverPaperOnly = false;
    bool onlineKeyOnly = false;
    bool slipMinus1 = false;
    bool statusFirstUnset = false;
    bool readFirstUnset = false;
    bool wideCount = false;
    bool wideOnlineFlag = false;
    uint32_t longRead = 0;
    bool recordHeader = false;
    bool removeHeldLock = false;
    bool alwaysHeld = false;
    bool leakHandle = false;
    bool onlineWhileUnplugged = false;
    uint32_t farCountWrite = 0;
};

struct Settings {
    uint32_t timeoutMs = 0;
    Faults faults;
    standin::Variations variations;
};

using FaultEntry = standin::NamedEntry<Faults>;

const FaultEntry FAULTS[] = {
    // The Nth OpenPortA of this process that carries this fault is refused.
    { "refuse-open", true, [](Faults& f, uint32_t n) { f.refuseOpen = n; } },
    // The first OpenPortA of this process that carries this fault prints N
    // bytes on standard output without ending the line, and is refused: the
    // suite's failure line lands far into one long line.
    { "chatty-refusal", true, [](Faults& f, uint32_t n) { f.chattyRefusal = n; } },
    // WritePort sends at most N bytes a call.
    { "chunk", true, [](Faults& f, uint32_t n) { f.chunk = n; } },
    // WritePort claims one byte more than it was given.
    { "count-over", false, [](Faults& f, uint32_t) { f.countOver = true; } },
    // Online is reported as 2 instead of 1.
    { "online-flag-2", false, [](Faults& f, uint32_t) { f.onlineFlag2 = true; } },
    // The port is not locked: a second opener is let in.
    { "no-exclusive", false, [](Faults& f, uint32_t) { f.noExclusive = true; } },
    // GetParsedStatus(Ex) take N ms longer.
    { "stall-status", true, [](Faults& f, uint32_t n) { f.stallStatusMs = n; } },
    // paperEmpty lands at the other record layout's offset.
    { "paper-offset", false, [](Faults& f, uint32_t) { f.paperOffset = true; } },
    // A session lost once is never opened again.
    { "no-reconnect", false, [](Faults& f, uint32_t) { f.noReconnect = true; } },
    // ClosePort keeps the port locked until the process ends.
    { "keep-lock", false, [](Faults& f, uint32_t) { f.keepLock = true; } },
    // WritePort succeeds without taking a byte, for ever.
    { "accept-nothing", false, [](Faults& f, uint32_t) { f.acceptNothing = true; } },
    // The records' offline word stays 0 whatever the printer says.
    { "offline-stuck-0", false, [](Faults& f, uint32_t) { f.offlineStuck0 = true; } },
    // The records' slip sensor words (TOF, COF, BOF) stay 0.
    { "slip-zero", false, [](Faults& f, uint32_t) { f.slipZero = true; } },
    // ResetDevice reports success while the printer is unreachable.
    { "ignore-disconnect", false, [](Faults& f, uint32_t) { f.ignoreDisconnect = true; } },
    // ReadPort drops zero bytes, the firmware reply's terminator among them.
    { "lose-terminator", false, [](Faults& f, uint32_t) { f.loseTerminator = true; } },
    // Opening a port that another process holds aborts this process.
    { "crash-held", false, [](Faults& f, uint32_t) { f.crashHeld = true; } },
    // ClosePort reports failure once N bytes or more went through the port.
    { "close-fails-after", true, [](Faults& f, uint32_t n) { f.closeFailsAfter = n; } },
    // While the printer is unreachable these report success without setting
    // their flag or count.
    { "online-keeps-flag", false, [](Faults& f, uint32_t) { f.onlineKeepsFlag = true; } },
    { "read-keeps-count", false, [](Faults& f, uint32_t) { f.readKeepsCount = true; } },
    { "write-keeps-count", false, [](Faults& f, uint32_t) { f.writeKeepsCount = true; } },
    // WritePort sends only the first N bytes of a call, as a fixed buffer
    // would, yet reports all of them written.
    { "drop-after", true, [](Faults& f, uint32_t n) { f.dropAfter = n; } },
    // Records written past the size the caller provides, as a library built
    // against another header would: GetParsedStatus fills 176 bytes of the
    // 144-byte old record; GetParsedStatusEx, or Begin and End, write N bytes
    // past the level-1 record.
    { "old-record-l1", false, [](Faults& f, uint32_t) { f.oldRecordAtLevel1Size = true; } },
    { "long-record", true, [](Faults& f, uint32_t n) { f.longStatusRecord = n; } },
    { "long-block-record", true, [](Faults& f, uint32_t n) { f.longBlockRecord = n; } },
    // The records' coverOpen word, once 1, stays 1 until the port is closed,
    // as an event latched and never cleared.
    { "cover-latched", false, [](Faults& f, uint32_t) { f.coverLatched = true; } },
    // The records' offline word is worked out from coverOpen and paperEmpty,
    // blind to the Online key and a latched error.
    { "offline-cover-paper-only", false, [](Faults& f, uint32_t) { f.offlineCoverPaperOnly = true; } },
    // GetOnlineStatus looks at the Online key only: a printer offline with
    // its cover open or its paper out reads online.
    { "online-key-only", false, [](Faults& f, uint32_t) { f.onlineKeyOnly = true; } },
    // The records' slip and validation words read -1, whatever the sensors say.
    { "slip-minus-1", false, [](Faults& f, uint32_t) { f.slipMinus1 = true; } },
    // The first record call of a port (GetParsedStatus(Ex), Begin or End)
    // succeeds before the library has a status, leaving the record as it was.
    { "status-first-unset", false, [](Faults& f, uint32_t) { f.statusFirstUnset = true; } },
    // The first ReadPort of a port succeeds before the library has read
    // anything, leaving the count as it was.
    { "read-first-unset", false, [](Faults& f, uint32_t) { f.readFirstUnset = true; } },
    // Written by a library built with 64-bit counts or booleans: WritePort and
    // ReadPort write 8-byte counts, GetOnlineStatus an 8-byte flag.
    { "wide-count", false, [](Faults& f, uint32_t) { f.wideCount = true; } },
    { "wide-online-flag", false, [](Faults& f, uint32_t) { f.wideOnlineFlag = true; } },
    // ReadPort writes N bytes past the buffer it was given, as a library that
    // copies whole packets would.
    { "long-read", true, [](Faults& f, uint32_t n) { f.longRead = n; } },
    // GetParsedStatusEx writes a 4-byte size word in front of the record.
    { "record-header", false, [](Faults& f, uint32_t) { f.recordHeader = true; } },
    // Refusing a held port, the library takes the holder's lock file for a
    // stale one and removes it, so the next opener gets the port. (POSIX: a
    // Windows lock is an object no other process can remove.)
    { "remove-held-lock", false, [](Faults& f, uint32_t) { f.removeHeldLock = true; } },
    // Every refused open says the port is held (EBUSY, Windows' 183), whatever
    // the reason.
    { "always-held", false, [](Faults& f, uint32_t) { f.alwaysHeld = true; } },
    // ClosePort forgets the connection's handle: it stays open until the
    // process ends.
    { "leak-handle", false, [](Faults& f, uint32_t) { f.leakHandle = true; } },
    // GetOnlineStatus succeeds with the flag 1 while the printer is
    // unreachable, as a library that answers from its last known state would.
    { "online-while-unplugged", false, [](Faults& f, uint32_t) { f.onlineWhileUnplugged = true; } },
    // WritePort also writes a zero word N bytes past the end of its count,
    // as a library that fills a wider structure of its own would.
    { "far-count-write", true, [](Faults& f, uint32_t n) { f.farCountWrite = n; } },
};

using standin::parseNumber;

bool applyFault(Settings& settings, const std::string& value, std::string* error)
{
    return standin::applyNamed(FAULTS, "fault", settings.faults, value, error);
}

bool applyVariation(Settings& settings, const std::string& value, std::string* error)
{
    return standin::applyVariation(settings.variations, value, error);
}

struct SettingEntry {
    const char* key;
    bool (*apply)(Settings&, const std::string& value, std::string* error);
};

const SettingEntry SETTINGS[] = {
    // Bounds every call instead of the open's time limit.
    { "timeout",
        [](Settings& s, const std::string& value, std::string* error) {
            if (parseNumber(value, &s.timeoutMs) && s.timeoutMs > 0) return true;
            *error = "timeout needs a number of milliseconds";
            return false;
        } },
    { "fault", applyFault },
    { "variation", applyVariation },
};

// "key=value,key=value"; empty items are skipped. A key, a fault or a
// variation given twice is refused: which of the two was meant cannot be told.
bool parseSettings(const std::string& text, Settings* settings, std::string* error)
{
    std::set<std::string> given;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        size_t equals = item.find('=');
        std::string key = item.substr(0, equals);
        const SettingEntry* entry = nullptr;
        for (const SettingEntry& e : SETTINGS) {
            if (key == e.key) entry = &e;
        }
        if (entry == nullptr || equals == std::string::npos) {
            *error = "unknown setting '" + item + "' (known: timeout=MS, fault=NAME[:N], variation=NAME[:N])";
            return false;
        }
        bool named = key == "fault" || key == "variation";
        std::string once = named ? key + "=" + splitFaultOption(item.substr(equals + 1)).name : key;
        if (!given.insert(once).second) {
            *error = "'" + once + "' is given twice";
            return false;
        }
        if (!entry->apply(*settings, item.substr(equals + 1), error)) return false;
    }
    return true;
}

struct Port {
    std::mutex mutex;
    Endpoint endpoint;
    std::string lockName;
    Settings settings;
    uint32_t timeLimitMs = DEFAULT_TIME_LIMIT_MS;
    Socket socket = NO_SOCKET;
    LockHandle lock = NO_LOCK;
    uint32_t seq = 0;
    bool lost = false;
    uint64_t bytesWritten = 0;
    bool coverSeenOpen = false;
    // For the faults of a port's first record call and first read.
    bool recordFilled = false;
    bool readDone = false;
    // For the variations: the session's trace file, the last status the
    // library had (records by layout), the notes written on standard error.
    FILE* trace = nullptr;
    VX_BOOL lastOnline = VX_TRUE;
    std::vector<uint8_t> lastRecord[2];
    unsigned notes = 0;
};

// A count or flag as a library built with 64-bit ones writes it: the value,
// then four more bytes.
void putWide(void* to, uint32_t value)
{
    uint64_t wide = value;
    memcpy(to, &wide, sizeof wide);
}

// Handles are numbers that are never reused, so a stale handle can only miss
// (but under handle-is-address).
std::mutex tableMutex;
std::map<uintptr_t, std::shared_ptr<Port>> ports;
uintptr_t nextHandle = 0x1000;
// Opens that carried refuse-open.
uint32_t opensSoFar = 0;
// Locks that keep-lock left held.
std::vector<LockHandle> keptLocks;

std::shared_ptr<Port> find(PortHandle handle)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    auto it = ports.find(reinterpret_cast<uintptr_t>(handle));
    if (it == ports.end()) return nullptr;
    return it->second;
}

VX_BOOL fail(int error)
{
    reportError(error);
    return VX_FALSE;
}

void dropSession(Port& port)
{
    closeSocket(port.socket);
    port.socket = NO_SOCKET;
    port.lost = true;
}

bool openSession(Port& port)
{
    std::string error;
    // The call and the greeting share the time limit, as a printer that
    // takes no call must not hold the caller longer than one that is slow.
    uint64_t deadline = monotonicMs() + port.timeLimitMs;
    Socket socket = connectEndpoint(port.endpoint, deadline, &error);
    if (socket == NO_SOCKET) {
        reportError(errno);
        return false;
    }
    Frame hello;
    hello.op = OP_HELLO;
    hello.seq = ++port.seq;
    hello.payload = { ROLE_PORT };
    Frame reply;
    IoResult result = exchange(socket, hello, &reply, deadline);
    if (result != IoResult::Done || reply.status != STATUS_OK) {
        closeSocket(socket);
        reportError(result == IoResult::TimedOut ? ETIMEDOUT : EIO);
        return false;
    }
    port.socket = socket;
    return true;
}

// One request and its reply. A session that broke since the last call (the
// printer was unplugged and is back) is replaced once; a fresh session that
// fails, a timeout or an unreachable printer fails the call.
bool callOnce(Port& port, uint16_t op, const std::vector<uint8_t>& payload, Frame* reply, uint32_t waitMs)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool fresh = false;
        if (port.socket == NO_SOCKET) {
            if (port.lost && port.settings.faults.noReconnect) return fail(EIO);
            if (!openSession(port)) return false;
            fresh = true;
        }
        Frame request;
        request.op = op;
        request.seq = ++port.seq;
        request.payload = payload;
        IoResult result = exchange(port.socket, request, reply, monotonicMs() + waitMs);
        if (result == IoResult::Done) {
            if (reply->status != STATUS_UNREACHABLE) return true;
            dropSession(port);
            return fail(EIO);
        }
        // A timed-out request may still be answered later; only a new session
        // keeps that answer from being taken for the next request's.
        dropSession(port);
        if (result != IoResult::Closed || fresh) return fail(result == IoResult::TimedOut ? ETIMEDOUT : EIO);
    }
    return fail(EIO);
}

// A call that fails is tried again (unplugged-retry) until `waitMs` is spent.
bool call(Port& port, uint16_t op, const std::vector<uint8_t>& payload, Frame* reply, uint32_t waitMs)
{
    uint64_t deadline = monotonicMs() + waitMs;
    for (;;) {
        if (callOnce(port, op, payload, reply, waitMs)) return true;
        uint64_t now = monotonicMs();
        if (!port.settings.variations.unpluggedRetry || now + RETRY_PAUSE_MS >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(RETRY_PAUSE_MS));
        waitMs = static_cast<uint32_t>(deadline - monotonicMs());
    }
}

bool call(Port& port, uint16_t op, const std::vector<uint8_t>& payload, Frame* reply)
{
    return call(port, op, payload, reply, port.timeLimitMs);
}

std::vector<uint8_t> u32Payload(uint32_t value)
{
    std::vector<uint8_t> payload;
    putU32(payload, value);
    return payload;
}

uint32_t recordSize(Layout layout) { return layout == LAYOUT_OLD ? VX_STATUS_OLD_SIZE : VX_STATUS_LEVEL1_SIZE; }

void setRecordWord(std::vector<uint8_t>& words, uint32_t offset, int32_t value)
{
    memcpy(words.data() + offset, &value, sizeof value);
}

int32_t recordWord(const std::vector<uint8_t>& words, uint32_t offset)
{
    int32_t value;
    memcpy(&value, words.data() + offset, sizeof value);
    return value;
}

// The faults that change the words of a record as the printer sent it.
void applyRecordFaults(Port& port, Layout layout, std::vector<uint8_t>& words)
{
    const Faults& faults = port.settings.faults;
    uint32_t paperEmpty = layout == LAYOUT_OLD ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1;
    if (faults.paperOffset) {
        uint32_t wrong = layout == LAYOUT_OLD ? VX_OFFSET_PAPER_EMPTY_LEVEL1 : VX_OFFSET_PAPER_EMPTY_OLD;
        setRecordWord(words, wrong, recordWord(words, paperEmpty));
        setRecordWord(words, paperEmpty, 0);
    }
    if (faults.offlineStuck0) setRecordWord(words, VX_OFFSET_OFFLINE, 0);
    if (faults.offlineCoverPaperOnly) {
        bool coverOrPaper = recordWord(words, VX_OFFSET_COVER_OPEN) != 0 || recordWord(words, paperEmpty) != 0;
        setRecordWord(words, VX_OFFSET_OFFLINE, coverOrPaper ? 1 : 0);
    }
    if (faults.coverLatched) {
        port.coverSeenOpen = port.coverSeenOpen || recordWord(words, VX_OFFSET_COVER_OPEN) != 0;
        if (port.coverSeenOpen) setRecordWord(words, VX_OFFSET_COVER_OPEN, 1);
    }
    if (layout == LAYOUT_OLD) return;
    if (faults.slipZero) {
        for (uint32_t offset : { VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF })
            setRecordWord(words, offset, 0);
    }
    if (faults.slipMinus1) {
        for (uint32_t offset :
            { VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF, VX_OFFSET_VALIDATION_PAPER_PRESENCE })
            setRecordWord(words, offset, -1);
    }
}

// The words of a record this build knows: the ones the contract names.
std::vector<uint32_t> knownWords(Layout layout)
{
    if (layout == LAYOUT_OLD) return { VX_OFFSET_COVER_OPEN, VX_OFFSET_OFFLINE, VX_OFFSET_PAPER_EMPTY_OLD };
    return { VX_OFFSET_COVER_OPEN, VX_OFFSET_OFFLINE, VX_OFFSET_PAPER_EMPTY_LEVEL1, VX_OFFSET_SLIP_TOF,
        VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF, VX_OFFSET_VALIDATION_PAPER_PRESENCE };
}

// The variations that write a record's words their own way.
void applyRecordVariations(const standin::Variations& variations, Layout layout, std::vector<uint8_t>& words)
{
    if (variations.slipSensorBits && layout == LAYOUT_L1) {
        const std::pair<uint32_t, int32_t> bits[] = { { VX_OFFSET_SLIP_TOF, 0x02 }, { VX_OFFSET_SLIP_COF, 0x04 },
            { VX_OFFSET_SLIP_BOF, 0x08 }, { VX_OFFSET_VALIDATION_PAPER_PRESENCE, 0x20 } };
        for (auto [offset, bit] : bits) setRecordWord(words, offset, recordWord(words, offset) != 0 ? bit : 0);
    }
    if (!variations.unreadWordsFilled) return;
    std::vector<uint32_t> known = knownWords(layout);
    for (uint32_t offset = 0; offset + sizeof(int32_t) <= recordSize(layout); offset += sizeof(int32_t)) {
        if (std::find(known.begin(), known.end(), offset) == known.end())
            setRecordWord(words, offset, static_cast<int32_t>(0xCDCDCDCDu));
    }
}

std::vector<uint8_t>& lastRecord(Port& port, Layout layout) { return port.lastRecord[layout == LAYOUT_OLD ? 0 : 1]; }

// A record call that failed: under failed-calls-fill the record gets the
// last status the library had all the same.
VX_BOOL recordCallFailed(Port& port, Layout layout, void* record)
{
    const std::vector<uint8_t>& last = lastRecord(port, layout);
    if (port.settings.variations.failedCallsFill && !last.empty()) memcpy(record, last.data(), last.size());
    return VX_FALSE;
}

// Copies a record reply into the caller's record, never more than its size
// (unless a fault says otherwise: `overrun` bytes past it).
VX_BOOL fillRecord(Port& port, const Frame& reply, Layout layout, void* record, uint32_t overrun = 0)
{
    if (reply.status != STATUS_OK || reply.payload.size() != recordSize(layout)) return fail(EIO);
    if (port.settings.faults.statusFirstUnset && !port.recordFilled) {
        port.recordFilled = true;
        return VX_TRUE;
    }
    const standin::Variations& variations = port.settings.variations;
    std::vector<uint8_t> words = reply.payload;
    applyRecordFaults(port, layout, words);
    applyRecordVariations(variations, layout, words);
    lastRecord(port, layout) = words;
    words.resize(words.size() + overrun);
    uint8_t* to = static_cast<uint8_t*>(record);
    if (port.settings.faults.recordHeader && layout == LAYOUT_L1) {
        uint32_t size = recordSize(layout);
        memcpy(to - sizeof size, &size, sizeof size);
    }
    if (!variations.unreadWordsKept) {
        memcpy(to, words.data(), words.size());
        return VX_TRUE;
    }
    for (uint32_t offset : knownWords(layout)) memcpy(to + offset, words.data() + offset, sizeof(int32_t));
    memcpy(to + recordSize(layout), words.data() + recordSize(layout), overrun);
    return VX_TRUE;
}

bool layoutOf(uint32_t level, Layout* layout)
{
    if (level != VX_STATUS_LEVEL_1) return false;
    *layout = LAYOUT_L1;
    return true;
}

void pause(uint32_t ms)
{
    if (ms != 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// What the variations keep of each call: a line in the process's log and
// the session's trace, a note on standard error. The reason for a failure
// stays what the call left.
void note(Port& port, const char* call, VX_BOOL result)
{
    const standin::Variations& variations = port.settings.variations;
    if (!variations.processLog && port.trace == nullptr && !variations.stderrNotes) return;
    int reason = errno;
    std::string text = std::string(call) + (result == VX_FALSE ? " failed" : " done");
    if (variations.processLog) standin::logNote(text.c_str());
    if (port.trace != nullptr) fprintf(port.trace, "%s\n", text.c_str());
    // Only every fourth note ends its line.
    if (variations.stderrNotes) fprintf(stderr, "KelmorPort: %s%s", text.c_str(), ++port.notes % 4 == 0 ? "\n" : "; ");
    errno = reason;
}

// A call's result as this build reports it, once noted.
VX_BOOL answer(Port& port, const char* call, VX_BOOL result)
{
    note(port, call, result);
    if (result == VX_FALSE) return VX_FALSE;
    if (port.settings.variations.staleError) reportError(EBUSY);
    return port.settings.variations.successMinus1 ? -1 : result;
}

// Runs body on the port behind handle, one call at a time per port.
template <typename Body> VX_BOOL withPort(PortHandle handle, const char* name, Body body)
{
    std::shared_ptr<Port> port = find(handle);
    if (!port) return fail(EBADF);
    std::lock_guard<std::mutex> guard(port->mutex);
    return answer(*port, name, body(*port));
}

VX_BOOL status(PortHandle handle, void* record, Layout layout)
{
    if (record == nullptr) return fail(EINVAL);
    return withPort(handle, layout == LAYOUT_OLD ? "GetParsedStatus" : "GetParsedStatusEx", [&](Port& port) {
        pause(port.settings.faults.stallStatusMs + port.settings.variations.statusDelayMs);
        Frame reply;
        if (!call(port, OP_STATUS, u32Payload(layout), &reply)) return recordCallFailed(port, layout, record);
        const Faults& faults = port.settings.faults;
        uint32_t overrun = layout == LAYOUT_OLD
            ? (faults.oldRecordAtLevel1Size ? VX_STATUS_LEVEL1_SIZE - VX_STATUS_OLD_SIZE : 0)
            : faults.longStatusRecord;
        return fillRecord(port, reply, layout, record, overrun);
    });
}

// For online-key-only: the cover or the paper is why the printer is offline
// (whatever the Online key says).
bool offlineByCoverOrPaper(Port& port)
{
    Frame reply;
    if (!call(port, OP_STATUS, u32Payload(LAYOUT_L1), &reply) || reply.payload.size() != VX_STATUS_LEVEL1_SIZE)
        return false;
    return recordWord(reply.payload, VX_OFFSET_COVER_OPEN) != 0
        || recordWord(reply.payload, VX_OFFSET_PAPER_EMPTY_LEVEL1) != 0;
}

// Takes the port's lock for a session just opened; false, with the reason
// set and the session closed, when another holder has it.
bool lockPort(Port& port)
{
    // Named once the printer has answered, so its socket is there to be named
    // by its identity, not by the spelling of its path.
    port.lockName = lockName(port.endpoint);
    if (port.settings.faults.noExclusive) return true;
    std::string error;
    LockResult locked = acquirePortLock(port.lockName, &port.lock, &error);
    if (locked == LockResult::Locked) return true;
    closeSocket(port.socket);
    // As a library with a failed assertion would.
    if (locked == LockResult::Busy && port.settings.faults.crashHeld) abort();
    if (locked == LockResult::Busy && port.settings.faults.removeHeldLock) remove(portLockPlace(port.lockName).c_str());
    if (locked == LockResult::Busy) {
        reportError(EBUSY);
        // flock's own word for it; Windows' last error stays 183.
        if (port.settings.variations.heldWouldBlock) errno = EWOULDBLOCK;
        return false;
    }
    fprintf(stderr, "KelmorPort: %s\n", error.c_str());
    reportError(EACCES);
    return false;
}

// The open once the settings are read.
PortHandle openPort(const std::shared_ptr<Port>& port, const char* portName, uint32_t timeLimit)
{
    std::string error;
    {
        std::lock_guard<std::mutex> guard(tableMutex);
        uint32_t refuse = port->settings.faults.refuseOpen;
        if (refuse != 0 && ++opensSoFar == refuse) {
            reportError(EIO);
            return nullptr;
        }
        static bool chattered = false;
        if (port->settings.faults.chattyRefusal != 0 && !chattered) {
            chattered = true;
            for (uint32_t i = 0; i < port->settings.faults.chattyRefusal; ++i) fputc('c', stdout);
            reportError(EIO);
            return nullptr;
        }
    }
    if (!parseEndpoint(portName, &port->endpoint, &error)) {
        reportError(ENOENT);
        return nullptr;
    }
    uint64_t limit = port->settings.timeoutMs ? port->settings.timeoutMs : timeLimit;
    if (port->settings.variations.timeLimitInSeconds) limit *= 1000;
    port->timeLimitMs
        = limit == 0 ? DEFAULT_TIME_LIMIT_MS : static_cast<uint32_t>(std::min<uint64_t>(limit, MAX_TIME_LIMIT_MS));

    if (!openSession(*port) || !lockPort(*port)) return nullptr;
    if (port->settings.variations.traceCloseDelayMs != 0) port->trace = standin::openTrace();
    std::lock_guard<std::mutex> guard(tableMutex);
    uintptr_t handle
        = port->settings.variations.handleIsAddress ? reinterpret_cast<uintptr_t>(port.get()) : nextHandle++;
    ports[handle] = port;
    return reinterpret_cast<PortHandle>(handle);
}

} // namespace

extern "C" {

PortHandle OpenPortA(const char* portName, const char* portSettings, uint32_t timeLimit)
{
    if (portName == nullptr) {
        reportError(EINVAL);
        return nullptr;
    }
    auto port = std::make_shared<Port>();
    std::string error;
    std::string settings = portSettings ? portSettings : "";
    if (!parseSettings(settings, &port->settings, &error)) {
        // The caller sees only a refused open; the person reads why here.
        fprintf(stderr, "KelmorPort: port settings '%s' refused: %s\n", settings.c_str(), error.c_str());
        reportError(EINVAL);
        return nullptr;
    }
    const standin::Variations& variations = port->settings.variations;
    if (variations.stdoutBanner) {
        static std::once_flag banner;
        std::call_once(banner, [] { printf("KelmorPort: stand-in library loaded\n"); });
    }
    if (variations.processLog) standin::openProcessLog();
    pause(variations.openDelayMs);
    PortHandle handle = openPort(port, portName, timeLimit);
    if (handle == nullptr && port->settings.faults.alwaysHeld) reportError(EBUSY);
    note(*port, "OpenPortA", handle == nullptr ? VX_FALSE : VX_TRUE);
    if (handle != nullptr && variations.staleError) reportError(EBUSY);
    return handle;
}

VX_BOOL ClosePort(PortHandle handle)
{
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(tableMutex);
        auto it = ports.find(reinterpret_cast<uintptr_t>(handle));
        if (it == ports.end()) return fail(EBADF);
        port = it->second;
        ports.erase(it);
    }
    // A call still running on another thread finishes first.
    std::lock_guard<std::mutex> portGuard(port->mutex);
    if (port->settings.faults.leakHandle) port->socket = NO_SOCKET;
    dropSession(*port);
    if (port->settings.faults.keepLock) {
        std::lock_guard<std::mutex> guard(tableMutex);
        keptLocks.push_back(port->lock);
    } else {
        releasePortLock(port->lockName, port->lock);
    }
    port->lock = NO_LOCK;
    uint32_t failAfter = port->settings.faults.closeFailsAfter;
    VX_BOOL result
        = answer(*port, "ClosePort", failAfter != 0 && port->bytesWritten >= failAfter ? fail(EIO) : VX_TRUE);
    // The writer thread closes the trace once it has written what was queued.
    standin::closeTraceLater(port->trace, port->settings.variations.traceCloseDelayMs);
    port->trace = nullptr;
    return result;
}

VX_BOOL WritePort(PortHandle handle, const void* bytes, uint32_t size, uint32_t* written)
{
    if (written == nullptr || (bytes == nullptr && size != 0)) return fail(EINVAL);
    return withPort(handle, "WritePort", [&](Port& port) {
        const standin::Variations& variations = port.settings.variations;
        // A larger write goes out in part; the count says how much.
        uint32_t offered = std::min(size, MAX_PAYLOAD);
        if (port.settings.faults.chunk) offered = std::min(offered, port.settings.faults.chunk);
        if (variations.writeLimit) offered = std::min(offered, variations.writeLimit);
        const uint8_t* data = static_cast<const uint8_t*>(bytes);
        if (port.settings.faults.acceptNothing) {
            *written = 0;
            return VX_TRUE;
        }
        uint32_t sent = port.settings.faults.dropAfter ? std::min(offered, port.settings.faults.dropAfter) : offered;
        Frame reply;
        if (!call(port, OP_WRITE, std::vector<uint8_t>(data, data + sent), &reply)) {
            if (port.settings.faults.writeKeepsCount) return VX_TRUE;
            // Nothing moved yet, or (failed-calls-fill) what the queue took.
            if (variations.unpluggedCountZero || variations.failedCallsFill)
                *written = variations.unpluggedCountZero ? 0 : sent;
            return variations.unpluggedCountZero ? VX_TRUE : VX_FALSE;
        }
        if (reply.status != STATUS_OK || reply.payload.size() != 4) return fail(EIO);
        uint32_t accepted = getU32(reply.payload.data());
        if (accepted > sent) return fail(EIO);
        port.bytesWritten += accepted;
        // The dropped bytes count as written once the printer took the rest.
        if (accepted == sent) accepted = offered;
        uint32_t reported = port.settings.faults.countOver ? size + 1 : accepted;
        if (port.settings.faults.wideCount) {
            putWide(written, reported);
        } else {
            *written = reported;
        }
        if (port.settings.faults.farCountWrite != 0) {
            uint32_t zero = 0;
            memcpy(reinterpret_cast<uint8_t*>(written + 1) + port.settings.faults.farCountWrite, &zero, sizeof zero);
        }
        return VX_TRUE;
    });
}

VX_BOOL ReadPort(PortHandle handle, void* buffer, uint32_t size, uint32_t* got)
{
    if (got == nullptr || (buffer == nullptr && size != 0)) return fail(EINVAL);
    return withPort(handle, "ReadPort", [&](Port& port) {
        const Faults& faults = port.settings.faults;
        const standin::Variations& variations = port.settings.variations;
        if (faults.readFirstUnset && !port.readDone) {
            port.readDone = true;
            return VX_TRUE;
        }
        uint32_t wanted = std::min(size, MAX_PAYLOAD);
        if (variations.readLimit) wanted = std::min(wanted, variations.readLimit);
        Frame reply;
        if (!call(port, OP_READ, u32Payload(wanted), &reply)) {
            if (faults.readKeepsCount) return VX_TRUE;
            // Nothing arrived yet, or (failed-calls-fill) what was asked for.
            if (variations.unpluggedCountZero || variations.failedCallsFill)
                *got = variations.unpluggedCountZero ? 0 : wanted;
            return variations.unpluggedCountZero ? VX_TRUE : VX_FALSE;
        }
        // Never more than was asked for, whatever the printer sends.
        if (reply.status != STATUS_OK || reply.payload.size() > wanted) return fail(EIO);
        if (port.settings.faults.loseTerminator) {
            reply.payload.erase(std::remove(reply.payload.begin(), reply.payload.end(), 0), reply.payload.end());
        }
        if (!reply.payload.empty()) memcpy(buffer, reply.payload.data(), reply.payload.size());
        // The whole packet buffer, which is never larger than a frame.
        if (variations.readFillsBuffer)
            memset(static_cast<uint8_t*>(buffer) + reply.payload.size(), 0,
                std::min(size, MAX_PAYLOAD) - reply.payload.size());
        if (faults.longRead) memset(static_cast<uint8_t*>(buffer) + size, 0, faults.longRead);
        uint32_t count = static_cast<uint32_t>(reply.payload.size());
        if (faults.wideCount) {
            putWide(got, count);
        } else {
            *got = count;
        }
        return VX_TRUE;
    });
}

VX_BOOL ResetDevice(PortHandle handle)
{
    return withPort(handle, "ResetDevice", [&](Port& port) {
        Frame reply;
        if (!call(port, OP_RESET, {}, &reply)) return port.settings.faults.ignoreDisconnect ? VX_TRUE : VX_FALSE;
        return reply.status == STATUS_OK ? VX_TRUE : fail(EIO);
    });
}

VX_BOOL GetOnlineStatus(PortHandle handle, VX_BOOL* online)
{
    if (online == nullptr) return fail(EINVAL);
    return withPort(handle, "GetOnlineStatus", [&](Port& port) {
        const Faults& faults = port.settings.faults;
        const standin::Variations& variations = port.settings.variations;
        pause(variations.statusDelayMs);
        Frame reply;
        if (!call(port, OP_ONLINE, {}, &reply)) {
            if (faults.onlineWhileUnplugged) {
                *online = VX_TRUE;
                return VX_TRUE;
            }
            if (variations.unpluggedFlagGiven) {
                *online = variations.unpluggedFlag;
                return VX_TRUE;
            }
            if (variations.failedCallsFill) *online = port.lastOnline;
            return faults.onlineKeepsFlag ? VX_TRUE : VX_FALSE;
        }
        if (reply.status != STATUS_OK || reply.payload.size() != 4) return fail(EIO);
        VX_BOOL flag = getU32(reply.payload.data()) != 0 ? VX_TRUE : VX_FALSE;
        if (flag == VX_FALSE && faults.onlineKeyOnly && offlineByCoverOrPaper(port)) flag = VX_TRUE;
        if (flag == VX_TRUE && faults.onlineFlag2) flag = 2;
        port.lastOnline = flag;
        if (faults.wideOnlineFlag) {
            putWide(online, static_cast<uint32_t>(flag));
        } else {
            *online = flag;
        }
        return VX_TRUE;
    });
}

VX_BOOL GetParsedStatus(PortHandle handle, void* oldRecord) { return status(handle, oldRecord, LAYOUT_OLD); }

VX_BOOL GetParsedStatusEx(PortHandle handle, void* record, uint32_t level)
{
    Layout layout;
    if (!layoutOf(level, &layout)) return fail(EINVAL);
    return status(handle, record, layout);
}

VX_BOOL BeginCheckedBlockEx(PortHandle handle, void* record, uint32_t level)
{
    Layout layout;
    if (record == nullptr || !layoutOf(level, &layout)) return fail(EINVAL);
    return withPort(handle, "BeginCheckedBlockEx", [&](Port& port) {
        pause(port.settings.variations.statusDelayMs);
        Frame reply;
        if (!call(port, OP_BEGIN_BLOCK, u32Payload(layout), &reply)) return recordCallFailed(port, layout, record);
        return fillRecord(port, reply, layout, record, port.settings.faults.longBlockRecord);
    });
}

VX_BOOL EndCheckedBlockEx(PortHandle handle, void* record, uint32_t level)
{
    Layout layout;
    if (record == nullptr || !layoutOf(level, &layout)) return fail(EINVAL);
    return withPort(handle, "EndCheckedBlockEx", [&](Port& port) {
        pause(port.settings.variations.statusDelayMs);
        // The printer gives up on the job at the time limit and says so; the
        // margin is for that answer to arrive.
        std::vector<uint8_t> payload = u32Payload(layout);
        putU32(payload, port.timeLimitMs);
        Frame reply;
        if (!call(port, OP_END_BLOCK, payload, &reply, port.timeLimitMs + END_BLOCK_MARGIN_MS))
            return recordCallFailed(port, layout, record);
        return fillRecord(port, reply, layout, record, port.settings.faults.longBlockRecord);
    });
}

} // extern "C"
