#include "vprinter/device.h"

#include <string.h>

#include <algorithm>

#include "portlib/KelmorPort.h"

namespace vprinter {

namespace {

const uint8_t ESC_K[] = { 0x1B, 0x4B, 0x01, 0x00 };
const uint8_t FIRMWARE_QUERY[] = { 0x1B, 0x23, 0x2A, 0x0A, 0x00 };
const uint8_t VALIDATE[] = { 0x1B, 0x2B, 0x41, 0x33, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A };
const size_t LONGEST_COMMAND = sizeof VALIDATE;

// A printer that asks for nothing to be read keeps at most this much queued,
// so a host that sends queries and never reads cannot grow it for ever.
const size_t REPLY_LIMIT = 64 * 1024;

// Up to a tenth of a second of data can arrive in one burst.
const uint64_t BURST_MS = 100;

bool endsWith(const std::vector<uint8_t>& tail, const uint8_t* command, size_t size)
{
    return tail.size() >= size && memcmp(tail.data() + tail.size() - size, command, size) == 0;
}

void setWord(std::vector<uint8_t>& record, uint32_t offset, bool value)
{
    int32_t word = value ? 1 : 0;
    memcpy(record.data() + offset, &word, sizeof word);
}

} // namespace

Device::Device(DeviceOptions options)
    : options_(std::move(options))
{
}

void Device::setPower(bool on)
{
    if (on == physical_.power) return;
    physical_.power = on;
    if (!on) {
        errorLatched_ = false;
        physical_.slipTOF = physical_.slipBOF = physical_.slipCOF = physical_.validationPaper = false;
        forgetData();
        return;
    }
    physical_.onlineButton = true;
    latchIfCaused();
}

void Device::setConnected(bool connected) { physical_.connected = connected; }

void Device::setCover(bool open)
{
    physical_.coverOpen = open;
    latchIfCaused();
}

void Device::setPaper(bool in)
{
    physical_.paperIn = in;
    latchIfCaused();
}

void Device::pressOnline(bool online)
{
    physical_.onlineButton = online;
    if (online && !errorCause()) errorLatched_ = false;
}

void Device::latchIfCaused()
{
    if (physical_.power && errorCause()) errorLatched_ = true;
}

bool Device::offline() const { return !reachable() || !physical_.onlineButton || errorCause() || errorLatched_; }

size_t Device::receive(const uint8_t* bytes, size_t size, uint64_t nowMs)
{
    if (!takesData()) return 0;
    size_t accepted = size;
    if (options_.bytesPerSecond != 0) {
        uint64_t rate = options_.bytesPerSecond;
        uint64_t burst = std::max<uint64_t>(rate * BURST_MS, 1000);
        if (nowMs > creditAt_) credit_ = std::min(burst, credit_ + (nowMs - creditAt_) * rate);
        creditAt_ = std::max(creditAt_, nowMs);
        accepted = static_cast<size_t>(std::min<uint64_t>(size, credit_ / 1000));
        credit_ -= accepted * 1000;
    }
    for (size_t i = 0; i < accepted; ++i) {
        tail_.push_back(bytes[i]);
        if (tail_.size() > LONGEST_COMMAND) tail_.erase(tail_.begin());
        command(nowMs);
    }
    bytesReceived_ += accepted;
    if (inBlock_) blockBytes_ += accepted;
    return accepted;
}

void Device::command(uint64_t nowMs)
{
    if (endsWith(tail_, ESC_K, sizeof ESC_K)) {
        lastCommand_ = "recover (ESC K)";
        if (!errorCause()) errorLatched_ = false;
    } else if (endsWith(tail_, FIRMWARE_QUERY, sizeof FIRMWARE_QUERY)) {
        lastCommand_ = "firmware query";
        answerFirmwareQuery(nowMs);
    } else if (endsWith(tail_, VALIDATE, sizeof VALIDATE)) {
        lastCommand_ = "validate slip";
        if (physical_.slipBOF) {
            physical_.slipBOF = false;
            physical_.slipCOF = true;
        }
    } else {
        return;
    }
    // A command's bytes never start the next one.
    tail_.clear();
}

void Device::answerFirmwareQuery(uint64_t nowMs)
{
    if (firmwareFault_.kind == FirmwareFault::NoReply) return;
    std::string reply = "\x1B#*,";
    if (firmwareFault_.kind == FirmwareFault::EndlessName) {
        // A new query starts a new reply; the old name is abandoned.
        endlessName_ = true;
        endlessNameSince_ = nowMs;
        endlessNameTaken_ = 0;
    } else {
        reply += options_.name;
        reply += '\n';
        reply += '\0';
    }
    if (replies_.size() + reply.size() <= REPLY_LIMIT) replies_.insert(replies_.end(), reply.begin(), reply.end());
}

uint64_t Device::nextAcceptAt(uint64_t nowMs) const
{
    if (options_.bytesPerSecond == 0) return nowMs;
    uint64_t rate = options_.bytesPerSecond;
    uint64_t burst = std::max<uint64_t>(rate * BURST_MS, 1000);
    uint64_t credit = credit_;
    if (nowMs > creditAt_) credit = std::min(burst, credit + (nowMs - creditAt_) * rate);
    if (credit >= 1000) return nowMs;
    return nowMs + (1000 - credit + rate - 1) / rate;
}

size_t Device::takeReply(uint8_t* out, size_t max, uint64_t nowMs)
{
    size_t count = std::min(max, replies_.size());
    std::copy(replies_.begin(), replies_.begin() + static_cast<std::ptrdiff_t>(count), out);
    replies_.erase(replies_.begin(), replies_.begin() + static_cast<std::ptrdiff_t>(count));
    if (!endlessName_) return count;
    uint64_t due = max - count;
    if (firmwareFault_.everyMs != 0) {
        uint64_t made = nowMs > endlessNameSince_ ? (nowMs - endlessNameSince_) / firmwareFault_.everyMs : 0;
        due = std::min(due, made - std::min(made, endlessNameTaken_));
    }
    // The name over and over: never the LF that would end it.
    std::string name = options_.name.empty() ? "X" : options_.name;
    for (uint64_t i = 0; i < due; ++i) out[count++] = static_cast<uint8_t>(name[endlessNameTaken_++ % name.size()]);
    return count;
}

void Device::forgetData()
{
    replies_.clear();
    endlessName_ = false;
    tail_.clear();
    inBlock_ = false;
    blockBytes_ = 0;
    jobDoneAt_ = 0;
}

void Device::reset()
{
    errorLatched_ = false;
    latchIfCaused();
    forgetData();
    lastCommand_ = "reset";
    ++resets_;
}

std::vector<uint8_t> Device::record(wire::Layout layout) const
{
    bool old = layout == wire::LAYOUT_OLD;
    std::vector<uint8_t> record(old ? VX_STATUS_OLD_SIZE : VX_STATUS_LEVEL1_SIZE, 0);
    setWord(record, VX_OFFSET_COVER_OPEN, physical_.coverOpen);
    setWord(record, VX_OFFSET_OFFLINE, offline());
    setWord(record, old ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1, !physical_.paperIn);
    if (old) return record;
    setWord(record, VX_OFFSET_SLIP_TOF, physical_.slipTOF);
    setWord(record, VX_OFFSET_SLIP_COF, physical_.slipCOF);
    setWord(record, VX_OFFSET_SLIP_BOF, physical_.slipBOF);
    setWord(record, VX_OFFSET_VALIDATION_PAPER_PRESENCE, physical_.validationPaper);
    return record;
}

void Device::beginBlock()
{
    inBlock_ = true;
    blockBytes_ = 0;
    lastCommand_ = "begin block";
}

uint64_t Device::printTimeMs(uint64_t jobBytes) const
{
    uint64_t ms = options_.printMs;
    if (options_.printBytesPerSecond != 0) ms += jobBytes * 1000 / options_.printBytesPerSecond;
    return ms;
}

void Device::endBlock(uint64_t nowMs)
{
    jobDoneAt_ = blockBytes_ > 0 ? nowMs + printTimeMs(blockBytes_) : nowMs;
    inBlock_ = false;
    blockBytes_ = 0;
    lastCommand_ = "end block";
}

JobState Device::jobState(uint64_t nowMs) const
{
    if (offline()) return JobState::Interrupted;
    return nowMs >= jobDoneAt_ ? JobState::Printed : JobState::Printing;
}

} // namespace vprinter
