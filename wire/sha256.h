// SHA-256, for the digest of a print job: the printer records one for every
// job it takes, and a tool that knows what it sent can compare; the operator
// also names the library it ran by its digest. The platform's own crypto does
// the work: OpenSSL's libcrypto on Linux (with the processor's SHA
// instructions where it has them, so a job's digest costs the printer far
// less than its transfer), CNG on Windows.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace wire {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const uint8_t* bytes, size_t size);
    // The digest of everything so far as 64 lowercase hex digits; the object
    // can go on taking bytes.
    std::string hex() const;

private:
    // The platform's hash state (an EVP_MD_CTX, a CNG hash handle).
    struct Context;
    Context* context_;
};

std::string sha256Hex(const uint8_t* bytes, size_t size);

// Lowercase hex digits, two a byte: a digest, a secret.
std::string hexDigits(const uint8_t* digest, size_t size);

} // namespace wire
