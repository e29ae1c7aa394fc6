#include "wire/sha256.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>

namespace wire {

namespace {

// Only a failed allocation makes these calls fail; there is no digest to
// give then, and no sensible way on without one.
void check(int ok)
{
    if (ok != 1) {
        fprintf(stderr, "SHA-256 failed (out of memory)\n");
        abort();
    }
}

} // namespace

struct Sha256::Context {
    EVP_MD_CTX* evp;
};

Sha256::Sha256()
    : context_(new Context { EVP_MD_CTX_new() })
{
    check(context_->evp != nullptr && EVP_DigestInit_ex(context_->evp, EVP_sha256(), nullptr));
}

Sha256::~Sha256()
{
    if (context_ != nullptr) EVP_MD_CTX_free(context_->evp);
    delete context_;
}

void Sha256::update(const uint8_t* bytes, size_t size)
{
    if (size > 0) check(EVP_DigestUpdate(context_->evp, bytes, size));
}

std::string Sha256::hex() const
{
    // The digest is finished on a copy, so this one can keep taking bytes.
    EVP_MD_CTX* end = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    check(end != nullptr && EVP_MD_CTX_copy_ex(end, context_->evp) && EVP_DigestFinal_ex(end, digest, &size));
    EVP_MD_CTX_free(end);
    return hexDigits(digest, size);
}

} // namespace wire
