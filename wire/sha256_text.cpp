#include "wire/sha256.h"

namespace wire {

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
