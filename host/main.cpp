// adcard-host [LIBRARY]: the card's driver library in a process of its own.
//
// Serves the eight entries the panel calls over standard input and output
// (driver/host_protocol.h), through the panel's own DriverLoader, so the
// library is opened at the first call and each entry bound at its first
// call, with the same failures as in the panel's process. LIBRARY defaults
// to libadcard.so (Linux) or adcard.dll (Windows), found by the system's
// ordinary search. It ends when its input ends: the panel has gone.
#include "driver/host_protocol.h"
#include "driver/loader.h"
#include "host/channel.h"

#include <cstdio>
#include <span>
#include <string>
#include <vector>

using namespace adcard;
using namespace adcard::host;

namespace {

// Room behind each buffer handed to the driver: one that writes a little
// past its end writes here, inside the host, and never reaches the panel.
constexpr std::size_t kSlack = 8192;

// The request's buffer, resized as asked; kept between calls, as the
// panel keeps its own.
std::span<int16_t> bufferOf(std::vector<int16_t> &buffer, int32_t elements)
{
    const auto n = static_cast<std::size_t>(elements);
    if (buffer.size() < n + kSlack)
        buffer.resize(n + kSlack);
    return {buffer.data(), n};
}

int serve(DriverLoader &driver, std::vector<DriverFailure> &failures)
{
    std::vector<int16_t> block, states;
    std::vector<uint8_t> body, out;
    bool pathSent = false;
    encodeReply(out, Op::Hello, 0, kProtocolVersion, {}, {}, {});
    if (!writeAll(out.data(), out.size()))
        return 1;
    for (;;) {
        uint8_t header[kHeaderBytes];
        if (!readExact(header, sizeof header))
            return 0;
        const uint32_t length = readU32(header);
        if (length > 64) {
            std::fprintf(stderr, "adcard-host: a request of %u bytes; the panel sends no more than 64\n", length);
            return 2;
        }
        body.resize(length);
        if (!readExact(body.data(), body.size()))
            return 0;
        const auto request = parseRequest(body);
        if (!request) {
            std::fprintf(stderr, "adcard-host: a malformed request\n");
            return 2;
        }
        const auto &a = request->args;
        int32_t result = 0;
        std::span<int16_t> buffer;
        switch (request->op) {
        case Op::Hello:
            return 2; // never a request
        case Op::Initial:
            result = driver.Initial(a[0], a[1], a[2], a[3]);
            break;
        case Op::StartIntr:
            result = driver.StartIntr(static_cast<int16_t>(a[0]), a[1], static_cast<int16_t>(a[2]),
                                      static_cast<int16_t>(a[3]), a[4], a[5], static_cast<int16_t>(a[6]));
            break;
        case Op::StopIntr:
            result = driver.StopIntr();
            break;
        case Op::QueryBuf:
            result = driver.QueryBuf();
            break;
        case Op::ADResult:
        case Op::Tvo_DI: {
            const int32_t elements = request->op == Op::ADResult ? a[0] : a[1];
            if (elements < 0 || static_cast<uint32_t>(elements) > kMaxBufferElements) {
                std::fprintf(stderr, "adcard-host: a buffer of %d elements\n", elements);
                return 2;
            }
            if (request->op == Op::ADResult) {
                buffer = bufferOf(block, elements);
                result = driver.ADResult(buffer.data());
            } else {
                buffer = bufferOf(states, elements);
                result = driver.Tvo_DI(a[0], buffer.data());
            }
            break;
        }
        case Op::GetLastADError:
            result = driver.GetLastADError();
            break;
        case Op::Tvo_DO:
            result = driver.Tvo_DO(static_cast<int16_t>(a[0]), static_cast<int16_t>(a[1]));
            break;
        }
        const uint8_t state = static_cast<uint8_t>((driver.libraryOpenAttempted() ? kOpenAttempted : 0) |
                                                   (driver.libraryOpened() ? kOpened : 0));
        std::string path;
        if (!pathSent && driver.libraryOpened()) {
            path = driver.libraryPath();
            pathSent = true;
        }
        out.clear();
        encodeReply(out, request->op, state, result, buffer, path, failures);
        failures.clear();
        if (!writeAll(out.data(), out.size()))
            return 0;
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args = arguments(argc, argv);
    if (args.size() > 2 || (args.size() == 2 && args[1].starts_with('-'))) {
        std::fprintf(stderr, "usage: adcard-host [driver library]\n"
                             "Serves the card driver's entries to the panel over standard input and output.\n");
        return 64;
    }
    if (!openChannel()) {
        std::fprintf(stderr, "adcard-host: cannot take over standard output\n");
        return 1;
    }
    DriverLoader driver(args.size() == 2 ? args[1] : std::string(kLibraryName));
    std::vector<DriverFailure> failures;
    driver.setFailureSink([&](const DriverFailure &f) { failures.push_back(f); });
    return serve(driver, failures);
}
