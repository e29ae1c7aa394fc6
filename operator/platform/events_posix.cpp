#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "operator/platform/events.h"

namespace vpop {

struct Events::State {
    int devbench = -1;
    int errors = -1;
    int keys = -1;
    int stop = -1;
    int printer = -1;
};

Events::Events(const EventSources& sources)
    : state_(std::make_unique<State>())
{
    state_->devbench = sources.devbench != nullptr ? sources.devbench->output : -1;
    state_->errors = sources.devbench != nullptr ? sources.devbench->error : -1;
    state_->keys = sources.keys ? STDIN_FILENO : -1;
    state_->stop = sources.stopFd;
    state_->printer = sources.printerOutput;
}

Events::~Events() = default;

namespace {

// Reads what `fd` has: `some` with the bytes, or `ended` (and forgets the
// fd) at its end.
Event readEvent(int& fd, Event::Kind some, Event::Kind ended)
{
    char chunk[4096];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return {};
    if (n <= 0) {
        fd = -1;
        return { ended, {} };
    }
    return { some, std::string(chunk, static_cast<size_t>(n)) };
}

} // namespace

Event Events::next(double seconds)
{
    State& s = *state_;
    // A stop comes first, then the printer (which must never block on its
    // output), then devbench's standard error (so that what it wrote before
    // its output ended is read first), its output, then keys.
    pollfd fds[5] = {
        { s.stop, POLLIN, 0 },
        { s.printer, POLLIN, 0 },
        { s.errors, POLLIN, 0 },
        { s.devbench, POLLIN, 0 },
        { s.keys, POLLIN, 0 },
    };
    int ready = poll(fds, 5, seconds < 0 ? -1 : static_cast<int>(seconds * 1000) + 1);
    if (ready <= 0) return {};
    if (fds[0].revents != 0) return { Event::Stop, {} };
    if (fds[1].revents != 0) return readEvent(s.printer, Event::PrinterOutput, Event::PrinterEnded);
    if (fds[2].revents != 0) return readEvent(s.errors, Event::Stderr, Event::StderrEnded);
    if (fds[3].revents != 0) return readEvent(s.devbench, Event::Output, Event::OutputEnded);
    if (fds[4].revents != 0) return readEvent(s.keys, Event::Keys, Event::KeysEnded);
    return {};
}

void Events::finish()
{
    state_->devbench = -1;
    state_->errors = -1;
}

} // namespace vpop
