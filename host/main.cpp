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
#include <optional>
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

// The next request off the pipe; nullopt at the pipe's end (`status` 0) or
// for one no panel sends (2, said on standard error).
std::optional<Request> nextRequest(std::vector<uint8_t> &body, int &status)
{
    status = 0;
    uint8_t header[kHeaderBytes];
    if (!readExact(header, sizeof header))
        return std::nullopt;
    const uint32_t length = readU32(header);
    if (length > 64) {
        std::fprintf(stderr, "adcard-host: a request of %u bytes; the panel sends no more than 64\n", length);
        status = 2;
        return std::nullopt;
    }
    body.resize(length);
    if (!readExact(body.data(), body.size()))
        return std::nullopt;
    auto request = parseRequest(body);
    if (!request) {
        std::fprintf(stderr, "adcard-host: a malformed request\n");
        status = 2;
    }
    return request;
}

// Buffers the driver writes into, kept from call to call.
struct Buffers {
    std::vector<int16_t> block, states;
    std::span<int16_t> filled; // what the last call wrote
};

// The driver's result for one request; nullopt for one no panel sends.
std::optional<int32_t> call(DriverLoader &driver, const Request &request, Buffers &b)
{
    const auto &a = request.args;
    b.filled = {};
    switch (request.op) {
    case Op::Hello:
        return std::nullopt; // never a request
    case Op::Initial:
        return driver.Initial(a[0], a[1], a[2], a[3]);
    case Op::StartIntr:
        return driver.StartIntr(static_cast<int16_t>(a[0]), a[1], static_cast<int16_t>(a[2]),
                                static_cast<int16_t>(a[3]), a[4], a[5], static_cast<int16_t>(a[6]));
    case Op::StopIntr:
        return driver.StopIntr();
    case Op::QueryBuf:
        return driver.QueryBuf();
    case Op::ADResult:
    case Op::Tvo_DI: {
        const int32_t elements = request.op == Op::ADResult ? a[0] : a[1];
        if (elements < 0 || static_cast<uint32_t>(elements) > kMaxBufferElements) {
            std::fprintf(stderr, "adcard-host: a buffer of %d elements\n", elements);
            return std::nullopt;
        }
        if (request.op == Op::ADResult) {
            b.filled = bufferOf(b.block, elements);
            return driver.ADResult(b.filled.data());
        }
        b.filled = bufferOf(b.states, elements);
        return driver.Tvo_DI(a[0], b.filled.data());
    }
    case Op::GetLastADError:
        return driver.GetLastADError();
    case Op::Tvo_DO:
        return driver.Tvo_DO(static_cast<int16_t>(a[0]), static_cast<int16_t>(a[1]));
    }
    return std::nullopt;
}

int serve(DriverLoader &driver, std::vector<DriverFailure> &failures)
{
    Buffers buffers;
    std::vector<uint8_t> body, out;
    bool pathSent = false;
    encodeReply(out, Op::Hello, 0, kProtocolVersion, {}, {}, {});
    if (!writeAll(out.data(), out.size()))
        return 1;
    for (;;) {
        int status = 0;
        const auto request = nextRequest(body, status);
        if (!request)
            return status;
        const std::optional<int32_t> result = call(driver, *request, buffers);
        if (!result)
            return 2;
        const uint8_t state = static_cast<uint8_t>((driver.libraryOpenAttempted() ? kOpenAttempted : 0) |
                                                   (driver.libraryOpened() ? kOpened : 0));
        std::string path;
        if (!pathSent && driver.libraryOpened()) {
            path = driver.libraryPath();
            pathSent = true;
        }
        out.clear();
        encodeReply(out, request->op, state, *result, buffers.filled, path, failures);
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
