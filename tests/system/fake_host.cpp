// A driver host that answers as adcard-host would (every entry succeeds,
// one block always waits) until the first QueryBuf, or for "oversize" the
// first ADResult, and then fails as its one argument (or, without one,
// ADPANEL_FAKE_HOST_MODE) says: exit, hang, garbage, short (half a reply,
// then its end) or oversize (more samples than the buffer holds).
#include "driver/host_protocol.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace adcard::host;

static void put(const std::vector<uint8_t> &b) { (void)!::write(1, b.data(), b.size()); }

int main(int argc, char **argv)
{
    const char *fromEnv = std::getenv("ADPANEL_FAKE_HOST_MODE");
    const std::string mode = argc > 1 ? argv[1] : fromEnv ? fromEnv : "";
    std::vector<uint8_t> out;
    encodeReply(out, Op::Hello, 0, kProtocolVersion, {}, {}, {});
    put(out);
    uint8_t header[4];
    std::vector<uint8_t> body;
    while (::read(0, header, 4) == 4) {
        body.resize(readU32(header));
        if (::read(0, body.data(), body.size()) != static_cast<ssize_t>(body.size()))
            return 1;
        const auto request = parseRequest(body);
        if (!request)
            return 1;
        const Op op = request->op;
        const bool ask = op == Op::ADResult || op == Op::Tvo_DI;
        std::vector<int16_t> buffer(ask ? static_cast<std::size_t>(request->args[op == Op::ADResult ? 0 : 1]) : 0);
        out.clear();
        if (op == (mode == "oversize" ? Op::ADResult : Op::QueryBuf)) {
            if (mode == "exit")
                return 3;
            if (mode == "garbage")
                put(std::vector<uint8_t>(std::begin("garbage!garbage!"), std::end("garbage!garbage!")));
            if (mode == "short") {
                encodeReply(out, op, 3, 1, buffer, {}, {});
                out.resize(out.size() / 2);
                put(out);
                return 0;
            }
            if (mode == "oversize") {
                buffer.resize(buffer.size() + 1000, 0x7777);
                encodeReply(out, op, 3, 1, buffer, {}, {});
                put(out);
            }
            ::pause(); // hang, or stay to be killed
        }
        encodeReply(out, op, 3, 1, buffer, {}, {});
        put(out);
    }
    return 0;
}
