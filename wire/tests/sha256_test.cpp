// Digests as sha256sum prints them for the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "wire/sha256.h"

using wire::Sha256;
using wire::sha256Hex;

namespace {

std::string digest(const std::string& text)
{
    return sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

} // namespace

// At 55 bytes the length still fits the last block, at 56 it takes one
// more; 64 is a whole block before the padding.
TEST(Sha256, MatchesSha256sum)
{
    EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(digest(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(digest(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

// Bytes arrive in writes of any size, and the digest is read between them.
TEST(Sha256, PiecewiseEqualsWhole)
{
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7);
    Sha256 pieces;
    size_t at = 0;
    for (size_t step = 1; at < text.size(); step = step * 3 % 97 + 1) {
        size_t size = std::min(step, text.size() - at);
        pieces.update(reinterpret_cast<const uint8_t*>(text.data()) + at, size);
        at += size;
        pieces.hex();
    }
    EXPECT_EQ(pieces.hex(), digest(text));
}
