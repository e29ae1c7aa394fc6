#include "vprinter/output.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

namespace vprinter {

namespace {

// About a thousand panel lines.
const size_t PENDING_LIMIT = 64 * 1024;

} // namespace

int Output::fd() const { return STDOUT_FILENO; }

void Output::line(const std::string& text)
{
    if (pending_.size() + text.size() + 1 > PENDING_LIMIT) {
        ++dropped_;
    } else {
        pending_ += text + "\n";
    }
    flush();
}

// Standard output may be shared with other programs (a terminal, a pipe), so
// it is never made non-blocking. A descriptor that polls writable takes a
// write of up to PIPE_BUF bytes without waiting: a pipe then has a buffer
// free, a terminal or socket room for more.
void Output::flush()
{
    while (!pending_.empty()) {
        pollfd p = { STDOUT_FILENO, POLLOUT, 0 };
        if (poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) {
            // A reader that went away takes nothing more, ever.
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) pending_.clear();
            return;
        }
        size_t size = pending_.size() < PIPE_BUF ? pending_.size() : PIPE_BUF;
        ssize_t written = write(STDOUT_FILENO, pending_.data(), size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) return;
        if (written <= 0) {
            pending_.clear();
            return;
        }
        pending_.erase(0, static_cast<size_t>(written));
        if (pending_.empty() && dropped_ > 0) {
            pending_ = "vprinter: " + std::to_string(dropped_) + " lines of output were dropped while nobody read it\n";
            dropped_ = 0;
        }
    }
}

} // namespace vprinter
