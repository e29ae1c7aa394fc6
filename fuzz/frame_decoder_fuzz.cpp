// The virtual printer's frame decoder with malformed and truncated frames.
// The stream is decoded twice: whole, and arriving in pieces the way a
// socket delivers it (sizes drawn from the first input byte). Both must see
// the same frames and the same end; every frame must encode back to the
// bytes it came from; a truncated frame must ask for more, never be taken
// as malformed or complete.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "wire/protocol.h"

using wire::decode;
using wire::DecodeResult;
using wire::Frame;

namespace {

struct Decoded {
    std::vector<std::vector<uint8_t>> frames;
    DecodeResult end = DecodeResult::NeedMore;
};

// Takes every whole frame from the front of the buffer, checking each one.
void drain(std::vector<uint8_t>& buffer, Decoded* decoded)
{
    for (;;) {
        Frame frame;
        size_t consumed = 0;
        // An empty vector's data() may be null; the decoder must cope.
        DecodeResult result = decode(buffer.data(), buffer.size(), &frame, &consumed);
        decoded->end = result;
        if (result != DecodeResult::Complete) return;
        if (consumed != wire::HEADER_SIZE + frame.payload.size() || consumed > buffer.size()) abort();
        if (frame.payload.size() > wire::MAX_PAYLOAD) abort();
        std::vector<uint8_t> bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(consumed));
        if (wire::encode(frame) != bytes) abort();
        // Every cut of a good frame is only incomplete.
        for (size_t cut = 0; cut < consumed; cut += 1 + cut / 8) {
            Frame partial;
            size_t partialConsumed = 0;
            if (decode(bytes.data(), cut, &partial, &partialConsumed) != DecodeResult::NeedMore) abort();
        }
        decoded->frames.push_back(bytes);
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(consumed));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    uint32_t seed = data[0] | 1u;
    const uint8_t* stream = data + 1;
    size_t length = size - 1;

    Decoded whole;
    std::vector<uint8_t> all(stream, stream + length);
    drain(all, &whole);

    Decoded pieces;
    std::vector<uint8_t> buffer;
    size_t at = 0;
    while (at < length && pieces.end != DecodeResult::Malformed) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        size_t piece = 1 + seed % 37;
        if (piece > length - at) piece = length - at;
        buffer.insert(buffer.end(), stream + at, stream + at + piece);
        at += piece;
        drain(buffer, &pieces);
    }
    if (length == 0) drain(buffer, &pieces);

    if (whole.frames != pieces.frames || whole.end != pieces.end) abort();
    return 0;
}
