// The virtual printer itself: physical state in, status words out, bytes in,
// replies out. It knows nothing of sockets or consoles; time comes in as a
// millisecond count so every behaviour can be driven step by step.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "wire/protocol.h"

namespace vprinter {

// What the operator can touch.
struct Physical {
    bool power = true;
    bool connected = true;
    bool coverOpen = false;
    bool paperIn = true;
    bool onlineButton = true;
    bool slipTOF = false;
    bool slipBOF = false;
    bool slipCOF = false;
    bool validationPaper = false;
};

struct DeviceOptions {
    std::string name = "VPRINTER-1.0";
    // 0 takes data as fast as it comes.
    uint32_t bytesPerSecond = 0;
    // The job of a checked block, once ended, takes printMs (feeding and
    // cutting the paper) and its bytes at printBytesPerSecond (0: no time)
    // to print. A person's pace: a technician told "cover open, NOW" has
    // seconds to do it, and the job still ends within the suite's 5000 ms
    // limit. The automated operator asks for a fast printer instead.
    uint32_t printMs = 4000;
    uint32_t printBytesPerSecond = 4000000;
};

enum class JobState { Printing, Printed, Interrupted };

// Ways the firmware reply goes wrong, for testing how the suite copes.
struct FirmwareFault {
    enum Kind {
        None,
        // The query is never answered.
        NoReply,
        // The reply starts, but its name never ends: as many characters as
        // are read, or (everyMs above 0) one character every everyMs.
        EndlessName,
    };
    Kind kind = None;
    uint32_t everyMs = 0;
};

class Device {
public:
    explicit Device(DeviceOptions options = {});

    const Physical& physical() const { return physical_; }
    const DeviceOptions& options() const { return options_; }

    // Operator actions. Switching off forgets the paper in the slip, the
    // latched error and everything in flight; switching on comes up online.
    void setPower(bool on);
    void setConnected(bool connected);
    void setCover(bool open);
    void setPaper(bool in);
    // Pressing online (yes) also clears a latched error whose cause is gone.
    void pressOnline(bool online);
    void setSlipTOF(bool in) { physical_.slipTOF = in; }
    void setSlipBOF(bool in) { physical_.slipBOF = in; }
    void setSlipCOF(bool in) { physical_.slipCOF = in; }
    void setValidationPaper(bool in) { physical_.validationPaper = in; }
    void setFirmwareFault(FirmwareFault fault) { firmwareFault_ = fault; }

    // The host can talk to the printer at all.
    bool reachable() const { return physical_.power && physical_.connected; }
    bool offline() const;
    // Data is taken when the printer is ready. A latched error alone does not
    // stop it, or the command that clears the latch could never arrive.
    bool takesData() const { return reachable() && physical_.onlineButton && !errorCause(); }
    bool errorLatched() const { return errorLatched_; }
    uint64_t bytesReceived() const { return bytesReceived_; }
    const std::string& lastCommand() const { return lastCommand_; }
    // How many times the host reset the printer since it started: a person
    // sees a printer restart, a program reads this.
    uint64_t resets() const { return resets_; }

    // Takes as many bytes as the printer accepts now and returns that count.
    size_t receive(const uint8_t* bytes, size_t size, uint64_t nowMs);
    // The earliest time at which receive() would take at least one byte.
    uint64_t nextAcceptAt(uint64_t nowMs) const;
    // Moves queued reply bytes (e.g. the firmware name) out.
    size_t takeReply(uint8_t* out, size_t max, uint64_t nowMs);
    // Queued bytes, not counting a name that never ends.
    size_t pendingReply() const { return replies_.size(); }

    // Clears the error latch (it comes back at once if its cause remains),
    // the queued replies, a half-received command and an open block.
    void reset();

    // The status record of the given layout; words the suite does not read
    // stay zero.
    std::vector<uint8_t> record(wire::Layout layout) const;

    // A checked block brackets a job: Begin starts it, End asks for it to be
    // printed, which from the moment End arrives takes printTimeMs of the
    // bytes received in the block.
    void beginBlock();
    void endBlock(uint64_t nowMs);
    // After endBlock: Printing until the job is out; Interrupted while the
    // printer is offline or unreachable.
    JobState jobState(uint64_t nowMs) const;
    uint64_t jobDoneAt() const { return jobDoneAt_; }
    uint64_t printTimeMs(uint64_t jobBytes) const;

private:
    bool errorCause() const { return physical_.coverOpen || !physical_.paperIn; }
    void latchIfCaused();
    void command(uint64_t nowMs);
    void answerFirmwareQuery(uint64_t nowMs);
    void forgetData();

    DeviceOptions options_;
    Physical physical_;
    bool errorLatched_ = false;
    uint64_t bytesReceived_ = 0;
    std::string lastCommand_ = "-";
    uint64_t resets_ = 0;
    std::deque<uint8_t> replies_;
    FirmwareFault firmwareFault_;
    // An endless name follows the queued replies: when it began, and how many
    // of its characters were taken.
    bool endlessName_ = false;
    uint64_t endlessNameSince_ = 0;
    uint64_t endlessNameTaken_ = 0;
    // The last bytes received, enough to recognise the longest command even
    // when it arrives split over several writes.
    std::vector<uint8_t> tail_;
    bool inBlock_ = false;
    uint64_t blockBytes_ = 0;
    uint64_t jobDoneAt_ = 0;
    // Rate limit: credit in byte-milliseconds, refilled by elapsed time.
    mutable uint64_t credit_ = 0;
    mutable uint64_t creditAt_ = 0;
};

} // namespace vprinter
