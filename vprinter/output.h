// The standard output of `vprinter serve`, which never holds up the printer:
// lines wait in a bounded buffer and go out as fast as the reader takes
// them. While nobody reads, lines that no longer fit are dropped and
// counted; once the output moves again, one line says how many were lost.
#pragma once

#include <stdint.h>

#include <string>

namespace vprinter {

class Output {
public:
    // Queues one line (given without its newline) and writes what it can.
    void line(const std::string& text);
    // Writes what the descriptor takes now, without waiting.
    void flush();
    // True while lines wait: the server's loop then waits for the
    // descriptor to take more.
    bool waiting() const { return !pending_.empty(); }
    int fd() const;

private:
    std::string pending_;
    uint64_t dropped_ = 0;
};

} // namespace vprinter
