#include "wire/sha256.h"

#include <windows.h>

#include <bcrypt.h>
#include <stdio.h>
#include <stdlib.h>

namespace wire {

namespace {

const ULONG DIGEST_SIZE = 32;

// CNG fails only when it is out of memory or the system lacks SHA-256;
// there is no digest to give then, and no sensible way on without one.
void check(NTSTATUS status)
{
    if (!BCRYPT_SUCCESS(status)) {
        fprintf(stderr, "SHA-256 failed (CNG status 0x%08lx)\n", static_cast<unsigned long>(status));
        abort();
    }
}

// Opened once for the process: CNG's providers are shared between threads.
BCRYPT_ALG_HANDLE provider()
{
    static BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        check(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
        return opened;
    }();
    return algorithm;
}

} // namespace

struct Sha256::Context {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256()
    : context_(new Context)
{
    check(BCryptCreateHash(provider(), &context_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256()
{
    if (context_ != nullptr) BCryptDestroyHash(context_->hash);
    delete context_;
}

void Sha256::update(const uint8_t* bytes, size_t size)
{
    // CNG takes a ULONG count: a larger buffer goes in pieces.
    while (size > 0) {
        ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        check(BCryptHashData(context_->hash, const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
}

std::string Sha256::hex() const
{
    // The digest is finished on a copy, so this one can keep taking bytes.
    BCRYPT_HASH_HANDLE end = nullptr;
    check(BCryptDuplicateHash(context_->hash, &end, nullptr, 0, 0));
    UCHAR digest[DIGEST_SIZE];
    NTSTATUS finished = BCryptFinishHash(end, digest, DIGEST_SIZE, 0);
    BCryptDestroyHash(end);
    check(finished);
    return hexDigits(digest, DIGEST_SIZE);
}

} // namespace wire
