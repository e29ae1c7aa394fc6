// What the printer does with each request of a client: checks that it
// belongs in the session, asks the device, and answers at once or once the
// device is ready (a slow status, a rate-limited write, a job in print).
// It knows frames and the device, not sockets.
#pragma once

#include <stdint.h>

#include <optional>

#include "vprinter/device.h"
#include "vprinter/paper.h"
#include "vprinter/server.h"
#include "wire/protocol.h"

namespace vprinter {

// One client's side of the dialogue.
struct Conversation {
    // 0 until HELLO: ROLE_PORT or ROLE_CONTROL after it.
    uint8_t role = 0;
    // The request being answered when its answer has to wait.
    std::optional<wire::Frame> pending;
    // Slow-status fault: no answer before this.
    uint64_t notBefore = 0;
    // END_BLOCK: the latest answer.
    uint64_t deadline = 0;
    // When to look at the pending request again if nothing else happens.
    uint64_t wakeAt = 0;
};

struct Answer {
    enum Kind {
        // The request stays pending until wakeAt or the next change.
        Later,
        Reply,
        // The request is out of place, or the session is gone: drop the client.
        HangUp,
    };
    Kind kind = Later;
    wire::Frame reply;
    // The session ends with this reply.
    bool last = false;
};

class Requests {
public:
    Requests(Device& device, const PrinterFaults& faults, int captureFd);

    // A new request; the conversation must have none pending.
    Answer start(Conversation& conversation, wire::Frame request, uint64_t now);
    // The pending request, answered if it can be now.
    Answer resume(Conversation& conversation, uint64_t now);
    // The first request of a client when all `places` are taken: refused
    // with the reason, and the session ends.
    Answer turnAway(const wire::Frame& request, size_t places);

    // The client is gone: its session, if it had one, closes on the paper.
    void ended(const Conversation& conversation);

    // True once after a request changed the printer's state.
    bool takeStateChange();

private:
    Answer hello(Conversation& conversation, const wire::Frame& request);
    Answer immediate(const wire::Frame& request, uint64_t now);
    Answer write(Conversation& conversation, const wire::Frame& request, uint64_t now);
    Answer endBlock(Conversation& conversation, const wire::Frame& request, uint64_t now);
    Answer set(const wire::Frame& request);
    Answer get(const wire::Frame& request, uint64_t now);
    Answer job(const wire::Frame& request);
    Answer mark(const wire::Frame& request);

    Device& device_;
    Paper paper_;
    const PrinterFaults& faults_;
    int captureFd_;
    bool stateChanged_ = false;
};

} // namespace vprinter
