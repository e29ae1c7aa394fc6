#include "wire/sha256.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>

#include <utility>

namespace wire {

namespace {

// Only a failed allocation makes these calls fail; there is no digest to
// give then, and no sensible way on without one.
void check(int ok)
{
    if (ok != 1) {
        fprintf(stderr, "vprinter: SHA-256 failed (out of memory)\n");
        abort();
    }
}

} // namespace

Sha256::Sha256()
    : context_(EVP_MD_CTX_new())
{
    check(context_ != nullptr && EVP_DigestInit_ex(context_, EVP_sha256(), nullptr));
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

Sha256::Sha256(Sha256&& other) noexcept
    : context_(std::exchange(other.context_, nullptr))
{
}

Sha256& Sha256::operator=(Sha256&& other) noexcept
{
    std::swap(context_, other.context_);
    return *this;
}

void Sha256::update(const uint8_t* bytes, size_t size)
{
    if (size > 0) check(EVP_DigestUpdate(context_, bytes, size));
}

std::string Sha256::hex() const
{
    // The digest is finished on a copy, so this one can keep taking bytes.
    EVP_MD_CTX* end = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    check(end != nullptr && EVP_MD_CTX_copy_ex(end, context_) && EVP_DigestFinal_ex(end, digest, &size));
    EVP_MD_CTX_free(end);
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += DIGITS[digest[i] >> 4];
        text += DIGITS[digest[i] & 15];
    }
    return text;
}

std::string sha256Hex(const uint8_t* bytes, size_t size)
{
    Sha256 digest;
    digest.update(bytes, size);
    return digest.hex();
}

} // namespace wire
