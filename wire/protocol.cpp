#include "wire/protocol.h"

namespace wire {

namespace {

uint16_t getU16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

void putU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

} // namespace

uint32_t getU32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8
        | static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void putU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

DecodeResult decode(const uint8_t* bytes, size_t size, Frame* frame, size_t* consumed)
{
    // Garbage is refused from its first wrong byte, so a peer that talks
    // another protocol is dropped at once instead of filling a buffer first.
    uint8_t magic[4];
    for (int i = 0; i < 4; ++i) magic[i] = static_cast<uint8_t>(FRAME_MAGIC >> (8 * i));
    for (size_t i = 0; i < size && i < 4; ++i) {
        if (bytes[i] != magic[i]) return DecodeResult::Malformed;
    }
    if (size < HEADER_SIZE) return DecodeResult::NeedMore;
    uint32_t length = getU32(bytes + 12);
    if (length > MAX_PAYLOAD) return DecodeResult::Malformed;
    if (size - HEADER_SIZE < length) return DecodeResult::NeedMore;
    frame->op = getU16(bytes + 4);
    frame->status = getU16(bytes + 6);
    frame->seq = getU32(bytes + 8);
    frame->payload.assign(bytes + HEADER_SIZE, bytes + HEADER_SIZE + length);
    *consumed = HEADER_SIZE + length;
    return DecodeResult::Complete;
}

std::vector<uint8_t> encode(const Frame& frame)
{
    std::vector<uint8_t> out;
    out.reserve(HEADER_SIZE + frame.payload.size());
    putU32(out, FRAME_MAGIC);
    putU16(out, frame.op);
    putU16(out, frame.status);
    putU32(out, frame.seq);
    putU32(out, static_cast<uint32_t>(frame.payload.size()));
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    return out;
}

} // namespace wire
