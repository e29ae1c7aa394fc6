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
#include "standin/faults.h"
#include "standin/lock_faults.h"
#include "standin/named_entry.h"
#include "standin/record_faults.h"
#include "standin/side_files.h"
#include "standin/variations.h"
#include "wire/endpoint.h"
#include "wire/fault_option.h"
#include "wire/portlock.h"
#include "wire/protocol.h"
#include "wire/transport.h"

namespace {

using namespace wire;
using standin::applyBlockFaults;
using standin::applyRecordFaults;
using standin::cannedRecord;
using standin::Faults;
using standin::recordWord;
using standin::setRecordWord;

const uint32_t DEFAULT_TIME_LIMIT_MS = 5000;
const uint32_t MAX_TIME_LIMIT_MS = 10 * 60 * 1000;
// The printer answers an ended block at the limit it was given; this is for
// the reply itself to arrive.
const uint32_t END_BLOCK_MARGIN_MS = 2000;
// resend-start-64k: where a library with a 64 KiB buffer starts it over.
const uint32_t RESEND_AFTER = 64 * 1024;
// Between the tries of a call under unplugged-retry.
const uint32_t RETRY_PAUSE_MS = 100;

struct Settings {
    uint32_t timeoutMs = 0;
    Faults faults;
    standin::Variations variations;
};

using standin::parseNumber;

bool applyFault(Settings& settings, const std::string& value, std::string* error)
{
    return standin::applyFault(settings.faults, value, error);
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
    // For the extended faults: when the last call came, whether one failed,
    // what is held back or kept to be handed out again, Ends so far.
    uint64_t lastCallMs = 0;
    bool callFailed = false;
    std::vector<uint8_t> refusedWrite;
    std::vector<uint8_t> heldWrite;
    uint64_t heldSince = 0;
    std::vector<uint8_t> lastReply;
    bool replyAgain = false;
    std::vector<uint8_t> lastOldRecord;
    uint32_t statusFailures = 0;
    bool resetRefused = false;
    uint32_t endsDone = 0;
    bool sharedLock = false;
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
bool callOnce(Port& port, uint16_t op, const std::vector<uint8_t>& payload, Frame* reply, uint32_t waitMs);
bool retriedCall(Port& port, uint16_t op, const std::vector<uint8_t>& payload, Frame* reply, uint32_t waitMs);

// What the extended faults do around each request.
bool call(Port& port, uint16_t op, std::vector<uint8_t> payload, Frame* reply, uint32_t waitMs)
{
    const Faults& faults = port.settings.faults;
    uint64_t now = monotonicMs();
    bool idle = faults.idleFailsMs != 0 && port.lastCallMs != 0 && now - port.lastCallMs > faults.idleFailsMs;
    port.lastCallMs = now;
    if (idle) {
        dropSession(port);
        return fail(ETIMEDOUT);
    }
    bool wasLost = port.socket == NO_SOCKET;
    bool done = retriedCall(port, op, payload, reply, waitMs);
    if (!done) port.callFailed = true;
    if (!done && faults.failedCallLeaks) standin::leakOneHandle();
    if (!done && faults.lockDroppedUnplugged && port.lock != NO_LOCK) {
        releasePortLock(port.lockName, port.lock);
        port.lock = NO_LOCK;
    }
    if (done && wasLost && port.lost) port.replyAgain = faults.replayReply;
    if (done && wasLost && port.lost && faults.replayRefusedWrite && !port.refusedWrite.empty()) {
        std::vector<uint8_t> replay;
        replay.swap(port.refusedWrite);
        Frame ignored;
        callOnce(port, OP_WRITE, replay, &ignored, waitMs);
    }
    if (done && wasLost && port.lost && port.resetRefused) {
        port.resetRefused = false;
        Frame ignored;
        callOnce(port, OP_RESET, {}, &ignored, waitMs);
    }
    return done;
}

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
bool retriedCall(Port& port, uint16_t op, const std::vector<uint8_t>& payload, Frame* reply, uint32_t waitMs)
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
VX_BOOL fillRecord(
    Port& port, const Frame& reply, Layout layout, void* record, uint32_t overrun = 0, bool block = false)
{
    if (reply.status != STATUS_OK || reply.payload.size() != recordSize(layout)) return fail(EIO);
    if (port.settings.faults.cannedStatus && port.callFailed) {
        std::vector<uint8_t> canned = cannedRecord(layout);
        memcpy(record, canned.data(), canned.size());
        return VX_TRUE;
    }
    if (layout == LAYOUT_OLD) port.lastOldRecord = reply.payload;
    if (port.settings.faults.statusFirstUnset && !port.recordFilled) {
        port.recordFilled = true;
        return VX_TRUE;
    }
    const standin::Variations& variations = port.settings.variations;
    std::vector<uint8_t> words = reply.payload;
    applyRecordFaults(port.settings.faults, layout, words, &port.coverSeenOpen);
    if (block) applyBlockFaults(port.settings.faults, words);
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

// status-stale-unplugged: a failure is reported once; the calls after it are
// answered from the last record until one gets through.
bool staleAfterFailure(Port& port, Layout layout, void* record)
{
    const std::vector<uint8_t>& last = lastRecord(port, layout);
    if (!port.settings.faults.statusStaleUnplugged || layout != LAYOUT_L1 || last.empty()) return false;
    if (port.statusFailures++ == 0) return false;
    memcpy(record, last.data(), last.size());
    return true;
}

VX_BOOL status(PortHandle handle, void* record, Layout layout)
{
    if (record == nullptr) return fail(EINVAL);
    return withPort(handle, layout == LAYOUT_OLD ? "GetParsedStatus" : "GetParsedStatusEx", [&](Port& port) {
        pause(port.settings.faults.stallStatusMs + port.settings.variations.statusDelayMs);
        Frame reply;
        const Faults& faults = port.settings.faults;
        if (!call(port, OP_STATUS, u32Payload(layout), &reply)) {
            if (staleAfterFailure(port, layout, record)) return VX_TRUE;
            if (!faults.oldStatusStale || layout != LAYOUT_OLD || port.lastOldRecord.empty())
                return recordCallFailed(port, layout, record);
            memcpy(record, port.lastOldRecord.data(), port.lastOldRecord.size());
            return VX_TRUE;
        }
        uint32_t overrun = layout == LAYOUT_OLD
            ? (faults.oldRecordAtLevel1Size ? VX_STATUS_LEVEL1_SIZE - VX_STATUS_OLD_SIZE : 0)
            : faults.longStatusRecord;
        port.statusFailures = 0;
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

// A refused open, and what the extended faults do with one.
PortHandle refuse(const Faults& faults, int error)
{
    if (faults.refusalLeaks) standin::leakOneHandle();
    if (faults.badNameClosesAll) {
        std::lock_guard<std::mutex> guard(tableMutex);
        ports.clear();
    }
    reportError(error);
    return nullptr;
}

// lock-by-spelling: the port's name as typed, made a file name.
std::string spellingLockName(const std::string& portName)
{
    std::string name = "spelling-";
    for (char c : portName) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// second-open-shares-lock: a port this process holds lets a second open in
// on its own lock.
bool shareHeldLock(Port& port)
{
    if (!port.settings.faults.secondOpenSharesLock) return false;
    std::lock_guard<std::mutex> guard(tableMutex);
    for (const auto& [handle, other] : ports) {
        if (other->lockName != port.lockName || other->lock == NO_LOCK) continue;
        port.lock = other->lock;
        port.sharedLock = true;
        return true;
    }
    return false;
}

// close-lock-lingers: the writer thread lets the lock go once it has
// drained; till then an open in this process takes the lock over.
std::map<std::string, LockHandle> lingeringLocks;

void releaseLockLater(const std::string& name, LockHandle lock, uint32_t ms)
{
    {
        std::lock_guard<std::mutex> guard(tableMutex);
        lingeringLocks[name] = lock;
    }
    std::thread([name, lock, ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::lock_guard<std::mutex> guard(tableMutex);
        auto it = lingeringLocks.find(name);
        if (it == lingeringLocks.end() || it->second != lock) return;
        lingeringLocks.erase(it);
        releasePortLock(name, lock);
    }).detach();
}

bool takeLingeringLock(Port& port)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    auto it = lingeringLocks.find(port.lockName);
    if (it == lingeringLocks.end()) return false;
    port.lock = it->second;
    lingeringLocks.erase(it);
    return true;
}

LockResult takeLock(Port& port, std::string* error)
{
    const Faults& faults = port.settings.faults;
    if (faults.closeLockLingersMs != 0 && takeLingeringLock(port)) return LockResult::Locked;
    if (faults.lockRelative) return standin::lockInCurrentFolder(port.lockName, &port.lock);
    LockResult locked = acquirePortLock(port.lockName, &port.lock, error);
    if (locked == LockResult::Busy && faults.lockStaleMs != 0
        && standin::removeIfOlder(port.lockName, faults.lockStaleMs))
        locked = acquirePortLock(port.lockName, &port.lock, error);
    if (locked == LockResult::Locked && faults.lockInherited) standin::letInherit(port.lock);
    return locked;
}

void flushHeld(Port& port, bool now)
{
    if (port.heldWrite.empty()) return;
    if (!now && monotonicMs() - port.heldSince < port.settings.faults.writeHeldMs) return;
    Frame ignored;
    std::vector<uint8_t> bytes;
    bytes.swap(port.heldWrite);
    port.heldSince = 0;
    callOnce(port, OP_WRITE, bytes, &ignored, port.timeLimitMs);
}

// write-held: the bytes wait in the library and go out with the first call
// at least writeHeldMs after they came, or at ClosePort.
VX_BOOL holdWrite(Port& port, const uint8_t* data, uint32_t size, uint32_t* written)
{
    flushHeld(port, false);
    port.heldWrite.insert(port.heldWrite.end(), data, data + size);
    if (port.heldSince == 0) port.heldSince = monotonicMs();
    *written = size;
    return VX_TRUE;
}

// Takes the port's lock for a session just opened; false, with the reason
// set and the session closed (or, refusal-leaks, kept), when another holder
// has it.
bool lockPort(Port& port, const char* portName)
{
    const Faults& faults = port.settings.faults;
    // Named once the printer has answered, so its socket is there to be named
    // by its identity, not by the spelling of its path.
    port.lockName = faults.lockBySpelling ? spellingLockName(portName) : lockName(port.endpoint);
    if (faults.noExclusive || shareHeldLock(port)) return true;
    std::string error;
    LockResult locked = takeLock(port, &error);
    if (locked == LockResult::Locked) return true;
    if (locked == LockResult::Busy && faults.refusalResets) {
        Frame ignored;
        callOnce(port, OP_RESET, {}, &ignored, port.timeLimitMs);
    }
    if (faults.refusalLeaks)
        standin::leakOneHandle();
    else
        closeSocket(port.socket);
    // As a library with a failed assertion would.
    if (locked == LockResult::Busy && faults.crashHeld) abort();
    if (locked == LockResult::Busy && faults.removeHeldLock) remove(portLockPlace(port.lockName).c_str());
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
    const Faults& faults = port->settings.faults;
    if (!parseEndpoint(portName, &port->endpoint, &error)) return refuse(faults, ENOENT);
    uint64_t limit = port->settings.timeoutMs ? port->settings.timeoutMs : timeLimit;
    if (faults.timeLimitNs32) limit = static_cast<uint32_t>(static_cast<uint32_t>(limit) * 1000000u) / 1000000u;
    if (port->settings.variations.timeLimitInSeconds) limit *= 1000;
    port->timeLimitMs
        = limit == 0 ? DEFAULT_TIME_LIMIT_MS : static_cast<uint32_t>(std::min<uint64_t>(limit, MAX_TIME_LIMIT_MS));

    if (!openSession(*port)) return refuse(faults, faults.unreachableHeld && errno == EIO ? EBUSY : errno);
    if (!lockPort(*port, portName)) return nullptr;
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
    flushHeld(*port, true);
    if (port->settings.faults.leakHandle) port->socket = NO_SOCKET;
    dropSession(*port);
    const Faults& faults = port->settings.faults;
    if (faults.keepLock) {
        std::lock_guard<std::mutex> guard(tableMutex);
        keptLocks.push_back(port->lock);
    } else if (port->sharedLock) {
        standin::unlockKeeping(port->lock);
    } else if (faults.lockRelative) {
        standin::releaseCurrentFolderLock(port->lockName, port->lock);
    } else if (faults.lockInherited) {
        standin::releaseKeepingFile(port->lock);
    } else if (faults.closeLockLingersMs != 0 && port->bytesWritten != 0) {
        releaseLockLater(port->lockName, port->lock, faults.closeLockLingersMs);
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
        const Faults& faults = port.settings.faults;
        if (faults.writeHeldMs != 0) return holdWrite(port, data, offered, written);
        uint32_t sent = port.settings.faults.dropAfter ? std::min(offered, port.settings.faults.dropAfter) : offered;
        std::vector<uint8_t> payload(data, data + sent);
        // resend-start-64k: past 64 KiB the buffer's start goes again.
        if (faults.resendStart64k && sent > RESEND_AFTER)
            std::copy(data, data + (sent - RESEND_AFTER), payload.begin() + RESEND_AFTER);
        Frame reply;
        if (!call(port, OP_WRITE, payload, &reply)) {
            if (faults.replayRefusedWrite) port.refusedWrite = payload;
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
        if (faults.offlineWriteClaimsAll && accepted == 0) accepted = offered;
        if (faults.partialAsZero && accepted < offered) accepted = 0;
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
        if (port.replyAgain && reply.payload.empty()) reply.payload = port.lastReply;
        port.replyAgain = false;
        if (!reply.payload.empty()) port.lastReply = reply.payload;
        if (!reply.payload.empty()) memcpy(buffer, reply.payload.data(), reply.payload.size());
        // The whole packet buffer, which is never larger than a frame.
        if (variations.readFillsBuffer)
            memset(static_cast<uint8_t*>(buffer) + reply.payload.size(), 0,
                std::min(size, MAX_PAYLOAD) - reply.payload.size());
        if (faults.longRead) memset(static_cast<uint8_t*>(buffer) + size, 0, faults.longRead);
        uint32_t count = static_cast<uint32_t>(reply.payload.size());
        if (faults.readNulPast) static_cast<uint8_t*>(buffer)[count] = 0;
        if (faults.readCountWhole && count > 0) count = size;
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
        const Faults& faults = port.settings.faults;
        if (faults.resetSilent) return VX_TRUE;
        Frame reply;
        if (!call(port, OP_RESET, {}, &reply)) {
            port.resetRefused = faults.replayRefusedReset;
            return faults.ignoreDisconnect ? VX_TRUE : VX_FALSE;
        }
        if (reply.status != STATUS_OK) return fail(EIO);
        // reset-unlocks: the port is opened again from scratch, without its lock.
        if (faults.resetUnlocks && port.lock != NO_LOCK) {
            releasePortLock(port.lockName, port.lock);
            port.lock = NO_LOCK;
        }
        return VX_TRUE;
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
        // online-stuck-after-loss: the flag cached before a failed call is kept.
        if (faults.onlineStuckAfterLoss && port.callFailed) flag = port.lastOnline;
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
        if (port.settings.faults.beginResets && !call(port, OP_RESET, {}, &reply)) return VX_FALSE;
        if (!call(port, OP_BEGIN_BLOCK, u32Payload(layout), &reply)) return recordCallFailed(port, layout, record);
        return fillRecord(port, reply, layout, record, port.settings.faults.longBlockRecord, true);
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
        const Faults& faults = port.settings.faults;
        if (faults.endFailsAfterFirst && port.endsDone++ > 0) return fail(EIO);
        std::vector<uint8_t> payload = u32Payload(layout);
        putU32(payload, faults.endEarly ? 0 : port.timeLimitMs);
        Frame reply;
        if (!call(port, OP_END_BLOCK, payload, &reply, port.timeLimitMs + END_BLOCK_MARGIN_MS))
            return recordCallFailed(port, layout, record);
        // A block the printer gave up on, reported ended with a fresh status.
        if (reply.status == STATUS_TIMED_OUT && (faults.endEarly || faults.endGaveUpFresh)
            && !call(port, OP_STATUS, u32Payload(layout), &reply))
            return VX_FALSE;
        return fillRecord(port, reply, layout, record, faults.longBlockRecord, true);
    });
}

} // extern "C"
