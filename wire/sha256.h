// SHA-256, for the digest of a print job: the printer records one for every
// job it receives, and a tool that knows what it sent can compare.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace vprinter {

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* bytes, size_t size);
    // The digest of everything so far as 64 lowercase hex digits; the object
    // can go on taking bytes.
    std::string hex() const;

private:
    void block(const uint8_t* bytes);

    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t total_ = 0;
};

std::string sha256Hex(const uint8_t* bytes, size_t size);

} // namespace vprinter
