#include "driver/host_driver.h"

#include "driver/entries.h"
#include "driver/error_codes.h"

#include <cstdio>

namespace adcard {

using host::Op;

namespace {
constexpr std::size_t kDigitalPorts = 2; // the panel's DIState

const char *entryName(Op op)
{
    static const char *const names[] = {"the greeting", "Initial", "StartIntr", "StopIntr", "QueryBuf",
                                        "ADResult",     "GetLastADError", "Tvo_DI", "Tvo_DO"};
    return names[static_cast<std::size_t>(op)];
}

std::string seconds(std::chrono::milliseconds ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}
} // namespace

HostDriver::HostDriver(HostOptions options)
    : options_(std::move(options)), library_(options_.library.empty() ? kLibraryName : options_.library)
{
}

HostDriver::~HostDriver() = default;

void HostDriver::report(const DriverFailure &failure)
{
    failures_ += failure.line;
    failures_ += '\n';
    if (sink_)
        sink_(failure);
}

void HostDriver::lose(const std::string &what, bool started)
{
    std::string program;
    for (const std::string &word : options_.command)
        program += (program.empty() ? "" : " ") + word;
    std::string ended;
    if (child_)
        ended = child_->end();
    child_.reset();
    lost_ = what + (ended.empty() ? "" : "; it " + ended);
    const std::string line = started ? "adcard: lost the driver host " + program + ": " + lost_ +
                                           "; the driver is not called again until the panel restarts"
                                     : "adcard: cannot start the driver host " + program + ": " + lost_;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    report({DriverFailure::Kind::Host, program, {}, {}, lost_, line});
}

bool HostDriver::ensureStarted()
{
    if (!lost_.empty())
        return false;
    if (startAttempted_)
        return child_ != nullptr;
    startAttempted_ = true;
    std::vector<std::string> argv = options_.command;
    if (argv.empty())
        argv.emplace_back("adcard-host");
    if (!options_.library.empty())
        argv.push_back(options_.library);
    child_ = std::make_unique<ChildProcess>();
    std::string why;
    if (!child_->start(argv, why)) {
        child_.reset();
        lose(why, false);
        return false;
    }
    host::Reply hello;
    if (!receive(Op::Hello, 0, options_.startBound, hello))
        return false;
    if (hello.result != host::kProtocolVersion) {
        lose("it speaks protocol version " + std::to_string(hello.result) + ", not " +
                 std::to_string(host::kProtocolVersion),
             true);
        return false;
    }
    return true;
}

bool HostDriver::receive(Op op, std::size_t elements, std::chrono::milliseconds bound, host::Reply &reply)
{
    const auto deadline = ChildProcess::Clock::now() + bound;
    std::string why;
    auto failed = [&](ChildProcess::Io io) {
        switch (io) {
        case ChildProcess::Io::TimedOut:
            lose(std::string("no reply to ") + entryName(op) + " within " + seconds(bound), true);
            break;
        case ChildProcess::Io::Closed:
            lose(std::string("it closed its output during ") + entryName(op), true);
            break;
        default:
            lose(std::string("reading its reply to ") + entryName(op) + ": " + why, true);
            break;
        }
        return false;
    };
    uint8_t header[host::kHeaderBytes];
    if (auto io = child_->readExact(header, deadline, why); io != ChildProcess::Io::Ok)
        return failed(io);
    const std::size_t length = host::readU32(header);
    if (length > host::maxReplyBody(elements)) {
        lose(std::string("its reply to ") + entryName(op) + " claims " + std::to_string(length) +
                 " bytes, more than the buffer and texts can fill",
             true);
        return false;
    }
    frame_.resize(length);
    if (auto io = child_->readExact(frame_, deadline, why); io != ChildProcess::Io::Ok)
        return failed(io);
    if (auto e = host::parseReply(frame_, op, elements, reply); e != host::ReplyError::None) {
        lose(std::string("a malformed reply to ") + entryName(op) + ": " + host::replyErrorText(e), true);
        return false;
    }
    return true;
}

bool HostDriver::call(Op op, std::initializer_list<int32_t> args, std::span<int16_t> into, int32_t &result)
{
    result = 0;
    if (!ensureStarted())
        return false;
    const auto request = host::encodeRequest(op, args);
    std::string why;
    if (child_->writeAll(request, why) != ChildProcess::Io::Ok) {
        lose(std::string("sending ") + entryName(op) + ": " + why, true);
        return false;
    }
    host::Reply reply;
    if (!receive(op, into.size(), options_.callBound, reply))
        return false;
    host::copyBuffer(reply, into);
    state_ = reply.state;
    if (!reply.path.empty())
        path_ = reply.path;
    // The host's loader has written each line to the standard error it
    // shares with the panel already.
    for (const DriverFailure &f : reply.failures)
        report(f);
    result = reply.result;
    return true;
}

int32_t HostDriver::Initial(int32_t a, int32_t b, int32_t c, int32_t d)
{
    int32_t r = 0;
    call(Op::Initial, {a, b, c, d}, {}, r);
    return r;
}

int32_t HostDriver::StartIntr(int16_t arg1, int32_t scansPerBlock, int16_t arg3, int16_t channelCount, int32_t arg5,
                              int32_t arg6, int16_t arg7)
{
    // The panel has just sized its block buffer from these same values.
    const int64_t elements = int64_t{channelCount} * scansPerBlock + 2;
    blockBufferElements_ = elements > 2 && elements <= host::kMaxBufferElements ? static_cast<std::size_t>(elements) : 0;
    int32_t r = 0;
    call(Op::StartIntr, {arg1, scansPerBlock, arg3, channelCount, arg5, arg6, arg7}, {}, r);
    return r;
}

int32_t HostDriver::StopIntr()
{
    int32_t r = 0;
    call(Op::StopIntr, {}, {}, r);
    return r;
}

int16_t HostDriver::QueryBuf()
{
    int32_t r = 0;
    call(Op::QueryBuf, {}, {}, r);
    return static_cast<int16_t>(r);
}

int32_t HostDriver::ADResult(int16_t *buffer)
{
    int32_t r = 0;
    const std::size_t n = buffer ? blockBufferElements_ : 0;
    call(Op::ADResult, {static_cast<int32_t>(n)}, {buffer, n}, r);
    return r;
}

int32_t HostDriver::GetLastADError()
{
    int32_t r = 0;
    if (!call(Op::GetLastADError, {}, {}, r))
        return code(PanelError::DriverHostLost);
    return r;
}

int16_t HostDriver::Tvo_DI(int32_t count, int16_t *states)
{
    int32_t r = 0;
    call(Op::Tvo_DI, {count, static_cast<int32_t>(kDigitalPorts)}, {states, kDigitalPorts}, r);
    return static_cast<int16_t>(r);
}

int16_t HostDriver::Tvo_DO(int16_t group, int16_t value)
{
    int32_t r = 0;
    call(Op::Tvo_DO, {group, value}, {}, r);
    return static_cast<int16_t>(r);
}

} // namespace adcard
