#include <errno.h>

#include "wire/transport.h"

namespace wire {

std::string connectError(const Endpoint& endpoint, int posixError, const std::string& detail)
{
    if (posixError == ETIMEDOUT)
        return "the printer at " + endpointText(endpoint) + " took no call in time (is it stopped?)";
    return "no printer at " + endpointText(endpoint) + ": " + detail;
}

IoResult exchange(Socket socket, const Frame& request, Frame* reply, uint64_t deadlineMs)
{
    std::vector<uint8_t> bytes = encode(request);
    IoResult result = sendAll(socket, bytes.data(), bytes.size(), deadlineMs);
    if (result != IoResult::Done) return result;
    uint8_t header[HEADER_SIZE];
    result = receiveAll(socket, header, sizeof header, deadlineMs);
    if (result != IoResult::Done) return result;
    size_t consumed = 0;
    // The header alone tells whether the payload length is acceptable.
    Frame probe;
    if (decode(header, sizeof header, &probe, &consumed) == DecodeResult::Malformed) return IoResult::Failed;
    std::vector<uint8_t> whole(header, header + sizeof header);
    whole.resize(HEADER_SIZE + getU32(header + 12));
    result = receiveAll(socket, whole.data() + HEADER_SIZE, whole.size() - HEADER_SIZE, deadlineMs);
    if (result != IoResult::Done) return result;
    if (decode(whole.data(), whole.size(), reply, &consumed) != DecodeResult::Complete) return IoResult::Failed;
    if (reply->op != (request.op | OP_REPLY) || reply->seq != request.seq) return IoResult::Failed;
    return IoResult::Done;
}

} // namespace wire
