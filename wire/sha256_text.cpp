#include "wire/sha256.h"

#include <utility>

namespace wire {

// Moving hands over the platform's state, whichever platform it is.
Sha256::Sha256(Sha256&& other) noexcept
    : context_(std::exchange(other.context_, nullptr))
{
}

Sha256& Sha256::operator=(Sha256&& other) noexcept
{
    std::swap(context_, other.context_);
    return *this;
}

std::string hexDigits(const uint8_t* digest, size_t size)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
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
