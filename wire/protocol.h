// Frames between the port library (or a control tool) and the virtual printer.
//
// Every frame, request or reply, is a 16-byte header and a payload:
//   offset  0  u32 magic   0x3156504B ("KPV1" on the wire)
//           4  u16 op      the request's op; a reply carries op | REPLY
//           6  u16 status  0 in requests; the outcome in replies
//           8  u32 seq     chosen by the client, echoed in the reply
//          12  u32 length  payload bytes that follow, at most MAX_PAYLOAD
// Integers are little-endian. A client has one request outstanding at a time
// and the printer answers it before it reads the next one.
//
// Requests (request payload -> reply payload):
//   HELLO        u8 role (ROLE_PORT or ROLE_CONTROL)  -> firmware name
//   WRITE        data bytes                          -> u32 bytes accepted
//   READ         u32 max                             -> up to max reply bytes
//   RESET        -                                   -> -
//   ONLINE       -                                   -> u32 flag (1 online)
//   STATUS       u32 layout (LAYOUT_OLD, LAYOUT_L1)  -> the status record
//   BEGIN_BLOCK  u32 layout                          -> the status record
//   END_BLOCK    u32 layout, u32 wait limit in ms    -> the status record
//   SET          key=value words separated by '\n'   -> -, or an error text
//   GET          -                                   -> "key=value\n" lines, then
//                                                       "jobs=N" and "job.K=SIZE SHA256"
//   JOB          u32 job number                      -> the job's bytes as kept
//   MARK         one line of text                    -> -, or an error text
//   PAPER        -                                   -> the paper's order: a line per
//                                                       job, mark and sessions divider
// A port session must open with HELLO as ROLE_PORT; the printer answers
// UNREACHABLE while it is unplugged or off, and drops port sessions when that
// happens. Control sessions (SET, GET, JOB, MARK, PAPER) work whatever the printer's state.
// A frame that cannot be decoded, or a request out of place, costs the client
// its connection.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace wire {

const uint32_t FRAME_MAGIC = 0x3156504Bu;
const size_t HEADER_SIZE = 16;
const uint32_t MAX_PAYLOAD = 1u << 20;

enum Op : uint16_t {
    OP_HELLO = 1,
    OP_WRITE = 2,
    OP_READ = 3,
    OP_RESET = 4,
    OP_ONLINE = 5,
    OP_STATUS = 6,
    OP_BEGIN_BLOCK = 7,
    OP_END_BLOCK = 8,
    OP_SET = 9,
    OP_GET = 10,
    OP_JOB = 11,
    OP_MARK = 12,
    OP_PAPER = 13,
    OP_REPLY = 0x8000,
};

enum Status : uint16_t {
    STATUS_OK = 0,
    // The printer is unplugged or switched off.
    STATUS_UNREACHABLE = 1,
    // The request was understood but refused; the payload says why.
    STATUS_REFUSED = 2,
    // END_BLOCK: the job did not finish within the wait limit.
    STATUS_TIMED_OUT = 3,
};

enum Role : uint8_t { ROLE_PORT = 1, ROLE_CONTROL = 2 };
enum Layout : uint32_t { LAYOUT_OLD = 0, LAYOUT_L1 = 1 };

struct Frame {
    uint16_t op = 0;
    uint16_t status = 0;
    uint32_t seq = 0;
    std::vector<uint8_t> payload;
};

enum class DecodeResult { Complete, NeedMore, Malformed };

// Looks at the start of a byte stream. Complete: *frame holds the first frame
// and *consumed its size. NeedMore: no whole frame yet, nothing is wrong so
// far. Malformed: the stream can never become a valid frame (wrong magic,
// oversized length). Pure: no state, no I/O.
DecodeResult decode(const uint8_t* bytes, size_t size, Frame* frame, size_t* consumed);

std::vector<uint8_t> encode(const Frame& frame);

void putU32(std::vector<uint8_t>& out, uint32_t value);
uint32_t getU32(const uint8_t* bytes);

} // namespace wire
