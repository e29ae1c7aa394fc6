#include <gtest/gtest.h>

#include "wire/protocol.h"

using namespace wire;

namespace {

std::vector<uint8_t> sample()
{
    Frame frame;
    frame.op = OP_WRITE;
    frame.seq = 0x01020304;
    frame.payload = { 1, 2, 3, 0x1B };
    return encode(frame);
}

DecodeResult decodeAll(const std::vector<uint8_t>& bytes, Frame* frame, size_t* consumed)
{
    return decode(bytes.data(), bytes.size(), frame, consumed);
}

} // namespace

TEST(ProtocolTest, FrameSurvivesTheRoundTripAndLeavesWhatFollows)
{
    std::vector<uint8_t> bytes = sample();
    std::vector<uint8_t> second = sample();
    bytes.insert(bytes.end(), second.begin(), second.begin() + 5);
    Frame frame;
    size_t consumed = 0;
    ASSERT_EQ(decodeAll(bytes, &frame, &consumed), DecodeResult::Complete);
    EXPECT_EQ(consumed, HEADER_SIZE + 4);
    EXPECT_EQ(frame.op, OP_WRITE);
    EXPECT_EQ(frame.seq, 0x01020304u);
    EXPECT_EQ(frame.payload, (std::vector<uint8_t> { 1, 2, 3, 0x1B }));
}

TEST(ProtocolTest, EveryTruncationNeedsMore)
{
    std::vector<uint8_t> bytes = sample();
    for (size_t size = 0; size < bytes.size(); ++size) {
        Frame frame;
        size_t consumed = 0;
        EXPECT_EQ(decode(bytes.data(), size, &frame, &consumed), DecodeResult::NeedMore) << size << " bytes";
    }
}

TEST(ProtocolTest, OversizedLengthIsMalformedBeforeThePayloadArrives)
{
    std::vector<uint8_t> bytes = sample();
    bytes.resize(HEADER_SIZE);
    uint32_t tooLong = MAX_PAYLOAD + 1;
    for (int i = 0; i < 4; ++i) bytes[12 + i] = static_cast<uint8_t>(tooLong >> (8 * i));
    Frame frame;
    size_t consumed = 0;
    EXPECT_EQ(decodeAll(bytes, &frame, &consumed), DecodeResult::Malformed);
    tooLong = 0xFFFFFFFF;
    for (int i = 0; i < 4; ++i) bytes[12 + i] = 0xFF;
    EXPECT_EQ(decodeAll(bytes, &frame, &consumed), DecodeResult::Malformed);
}

TEST(ProtocolTest, GarbageIsMalformedFromItsFirstWrongByte)
{
    Frame frame;
    size_t consumed = 0;
    const uint8_t http[] = { 'G', 'E', 'T', ' ' };
    EXPECT_EQ(decode(http, 1, &frame, &consumed), DecodeResult::Malformed);
    std::vector<uint8_t> bytes = sample();
    bytes[2] ^= 0xFF;
    EXPECT_EQ(decode(bytes.data(), 3, &frame, &consumed), DecodeResult::Malformed);
}

TEST(ProtocolTest, LargestPayloadIsAccepted)
{
    Frame frame;
    frame.op = OP_WRITE;
    frame.payload.assign(MAX_PAYLOAD, 0xAB);
    std::vector<uint8_t> bytes = encode(frame);
    Frame decoded;
    size_t consumed = 0;
    ASSERT_EQ(decodeAll(bytes, &decoded, &consumed), DecodeResult::Complete);
    EXPECT_EQ(decoded.payload.size(), MAX_PAYLOAD);
}
