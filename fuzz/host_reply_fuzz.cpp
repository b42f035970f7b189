// The driver host's replies as the panel parses them: whatever the host
// sends, the parser never reads past the frame and the copy never writes
// past the caller's buffer (ASan watches both), and a reply it accepts
// encodes back to the same bytes.
#include "driver/host_protocol.h"

#include <cstdlib>
#include <vector>

using namespace adcard::host;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const auto op = static_cast<Op>(data[0] % kOpCount);
    const std::size_t elements = (data[1] | data[2] << 8) % 8192;
    const std::span<const uint8_t> body(data + 3, size - 3);
    Reply reply;
    if (parseReply(body, op, elements, reply) != ReplyError::None)
        return 0;
    std::vector<int16_t> buffer(elements);
    copyBuffer(reply, buffer);
    std::vector<uint8_t> again;
    encodeReply(again, op, reply.state, reply.result, buffer, reply.path, reply.failures);
    if (again.size() != body.size() + kHeaderBytes || !std::equal(body.begin(), body.end(), again.begin() + kHeaderBytes))
        std::abort();
    return 0;
}
