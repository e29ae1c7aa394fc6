#include "vprinter/requests.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "vprinter/panel.h"

namespace vprinter {

namespace {

// END_BLOCK never holds a client longer than this, whatever it asks for.
const uint32_t MAX_END_WAIT_MS = 60000;

Answer replyTo(const wire::Frame& request, uint16_t status, std::vector<uint8_t> payload = {})
{
    Answer answer;
    answer.kind = Answer::Reply;
    answer.reply.op = static_cast<uint16_t>(request.op | wire::OP_REPLY);
    answer.reply.status = status;
    answer.reply.seq = request.seq;
    answer.reply.payload = std::move(payload);
    return answer;
}

Answer replyText(const wire::Frame& request, uint16_t status, const std::string& text)
{
    return replyTo(request, status, std::vector<uint8_t>(text.begin(), text.end()));
}

Answer hangUp()
{
    Answer answer;
    answer.kind = Answer::HangUp;
    return answer;
}

Answer later(Conversation& conversation, uint64_t wakeAt)
{
    conversation.wakeAt = wakeAt;
    return Answer();
}

std::vector<uint8_t> u32(uint32_t value)
{
    std::vector<uint8_t> bytes;
    wire::putU32(bytes, value);
    return bytes;
}

// A request's payload has the size its op needs, and names a known layout.
bool wellFormed(const wire::Frame& request)
{
    const std::vector<uint8_t>& p = request.payload;
    switch (request.op) {
    case wire::OP_WRITE:
    case wire::OP_SET:
    case wire::OP_MARK:
        return true;
    case wire::OP_RESET:
    case wire::OP_ONLINE:
    case wire::OP_GET:
    case wire::OP_PAPER:
        return p.empty();
    case wire::OP_READ:
    case wire::OP_JOB:
        return p.size() == 4;
    case wire::OP_STATUS:
    case wire::OP_BEGIN_BLOCK:
        return p.size() == 4 && wire::getU32(p.data()) <= wire::LAYOUT_L1;
    case wire::OP_END_BLOCK:
        return p.size() == 8 && wire::getU32(p.data()) <= wire::LAYOUT_L1;
    default:
        return false;
    }
}

// The paper tells a person when things came out, so its times are the wall
// clock's, not the server's monotonic one.
uint64_t wallMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

wire::Layout layoutOf(const wire::Frame& request)
{
    return static_cast<wire::Layout>(wire::getU32(request.payload.data()));
}

} // namespace

Requests::Requests(Device& device, const PrinterFaults& faults, int captureFd)
    : device_(device)
    , faults_(faults)
    , captureFd_(captureFd)
{
}

bool Requests::takeStateChange()
{
    bool changed = stateChanged_;
    stateChanged_ = false;
    return changed;
}

Answer Requests::start(Conversation& conversation, wire::Frame request, uint64_t now)
{
    if (request.status != 0 || (request.op & wire::OP_REPLY) != 0) return hangUp();
    if (conversation.role == 0) return hello(conversation, request);
    bool control = request.op == wire::OP_SET || request.op == wire::OP_GET || request.op == wire::OP_JOB
        || request.op == wire::OP_MARK || request.op == wire::OP_PAPER;
    if (!wellFormed(request) || control != (conversation.role == wire::ROLE_CONTROL)) return hangUp();
    conversation.notBefore = now;
    if (request.op == wire::OP_STATUS || request.op == wire::OP_ONLINE || request.op == wire::OP_BEGIN_BLOCK) {
        conversation.notBefore = now + faults_.slowStatusMs;
    }
    if (request.op == wire::OP_END_BLOCK) {
        paper_.endJob();
        device_.endBlock(now);
        conversation.deadline = now + std::min(wire::getU32(request.payload.data() + 4), MAX_END_WAIT_MS);
    }
    conversation.pending = std::move(request);
    return resume(conversation, now);
}

Answer Requests::turnAway(const wire::Frame& request, size_t places)
{
    if (request.op != wire::OP_HELLO) return hangUp();
    Answer answer = replyText(request, wire::STATUS_REFUSED,
        "the printer serves at most " + std::to_string(places) + " clients at once; try again later");
    answer.last = true;
    return answer;
}

Answer Requests::hello(Conversation& conversation, const wire::Frame& request)
{
    const std::vector<uint8_t>& p = request.payload;
    if (request.op != wire::OP_HELLO || p.size() != 1 || (p[0] != wire::ROLE_PORT && p[0] != wire::ROLE_CONTROL))
        return hangUp();
    if (p[0] == wire::ROLE_PORT && !device_.reachable()) return replyTo(request, wire::STATUS_UNREACHABLE);
    conversation.role = p[0];
    if (p[0] == wire::ROLE_PORT) {
        paper_.endJob();
        paper_.sessionOpened(wallMs());
    }
    return replyText(request, wire::STATUS_OK, device_.options().name);
}

void Requests::ended(const Conversation& conversation)
{
    if (conversation.role == wire::ROLE_PORT) paper_.sessionClosed(wallMs());
}

Answer Requests::resume(Conversation& conversation, uint64_t now)
{
    const wire::Frame& request = *conversation.pending;
    if (now < conversation.notBefore) return later(conversation, conversation.notBefore);
    // Sessions are dropped when the printer goes away; this one is on its way out.
    if (conversation.role == wire::ROLE_PORT && !device_.reachable()) return hangUp();
    Answer answer;
    if (request.op == wire::OP_WRITE) {
        answer = write(conversation, request, now);
    } else if (request.op == wire::OP_END_BLOCK) {
        answer = endBlock(conversation, request, now);
    } else {
        answer = immediate(request, now);
    }
    if (answer.kind != Answer::Later) conversation.pending.reset();
    return answer;
}

// The requests that are answered as soon as they are due.
Answer Requests::immediate(const wire::Frame& request, uint64_t now)
{
    const std::vector<uint8_t>& p = request.payload;
    switch (request.op) {
    case wire::OP_READ: {
        std::vector<uint8_t> bytes(std::min<size_t>(wire::getU32(p.data()), wire::MAX_PAYLOAD));
        bytes.resize(device_.takeReply(bytes.data(), bytes.size(), now));
        return replyTo(request, wire::STATUS_OK, bytes);
    }
    case wire::OP_RESET:
        paper_.endJob();
        device_.reset();
        return replyTo(request, wire::STATUS_OK);
    case wire::OP_ONLINE:
        return replyTo(request, wire::STATUS_OK, u32(device_.offline() ? 0 : 1));
    case wire::OP_STATUS:
        return replyTo(request, wire::STATUS_OK, device_.record(layoutOf(request)));
    case wire::OP_BEGIN_BLOCK:
        paper_.endJob();
        device_.beginBlock();
        return replyTo(request, wire::STATUS_OK, device_.record(layoutOf(request)));
    case wire::OP_SET:
        return set(request);
    case wire::OP_GET:
        return get(request, now);
    case wire::OP_JOB:
        return job(request);
    case wire::OP_MARK:
        return mark(request);
    case wire::OP_PAPER:
        return replyText(request, wire::STATUS_OK, describePaperOrder(paper_));
    }
    return hangUp();
}

Answer Requests::write(Conversation& conversation, const wire::Frame& request, uint64_t now)
{
    const std::vector<uint8_t>& p = request.payload;
    size_t accepted = device_.receive(p.data(), p.size(), now);
    // A slow printer holds the answer until it can take a byte, rather
    // than have the host spin; an offline one answers 0 at once.
    if (accepted == 0 && !p.empty() && device_.takesData() && device_.nextAcceptAt(now) > now) {
        return later(conversation, device_.nextAcceptAt(now));
    }
    paper_.take(p.data(), accepted, wallMs());
    if (captureFd_ >= 0 && accepted > 0) {
        ssize_t ignored = ::write(captureFd_, p.data(), accepted);
        (void)ignored;
    }
    return replyTo(request, wire::STATUS_OK, u32(static_cast<uint32_t>(accepted)));
}

Answer Requests::endBlock(Conversation& conversation, const wire::Frame& request, uint64_t now)
{
    if (device_.jobState(now) == JobState::Printing) {
        if (now < conversation.deadline)
            return later(conversation, std::min(device_.jobDoneAt(), conversation.deadline));
        return replyTo(request, wire::STATUS_TIMED_OUT);
    }
    return replyTo(request, wire::STATUS_OK, device_.record(layoutOf(request)));
}

Answer Requests::set(const wire::Frame& request)
{
    std::string error;
    std::string text(request.payload.begin(), request.payload.end());
    if (!applyAssignments(device_, splitWords(text), &error)) return replyText(request, wire::STATUS_REFUSED, error);
    stateChanged_ = true;
    return replyTo(request, wire::STATUS_OK);
}

Answer Requests::get(const wire::Frame& request, uint64_t now)
{
    std::string text;
    for (const auto& [key, value] : describeState(device_)) text += key + "=" + value + "\n";
    // The last checked block's job, as a person at the printer sees it.
    static const char* const JOB_STATES[] = { "printing", "printed", "interrupted" };
    text += std::string("job=") + JOB_STATES[static_cast<int>(device_.jobState(now))] + "\n";
    return replyText(request, wire::STATUS_OK, text + describeJobs(paper_));
}

Answer Requests::job(const wire::Frame& request)
{
    uint32_t number = wire::getU32(request.payload.data());
    const Job* job = paper_.job(number);
    if (job == nullptr)
        return replyText(request, wire::STATUS_REFUSED, "no job " + std::to_string(number) + " on the paper");
    return replyTo(request, wire::STATUS_OK, job->bytes);
}

Answer Requests::mark(const wire::Frame& request)
{
    std::string error;
    std::string text(request.payload.begin(), request.payload.end());
    if (!paper_.mark(text, wallMs(), &error)) return replyText(request, wire::STATUS_REFUSED, error);
    return replyTo(request, wire::STATUS_OK);
}

} // namespace vprinter
