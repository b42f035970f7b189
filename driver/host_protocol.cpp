#include "driver/host_protocol.h"

#include <algorithm>

namespace adcard::host {

namespace {

void putU16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void putText(std::vector<uint8_t> &out, const std::string &s)
{
    const std::size_t n = std::min(s.size(), kMaxText);
    putU16(out, static_cast<uint16_t>(n));
    out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

void patchLength(std::vector<uint8_t> &out, std::size_t at)
{
    const auto n = static_cast<uint32_t>(out.size() - at - kHeaderBytes);
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
}

// Reads fields off the front of a body; any read past its end sets `bad`.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> b) : b_(b) {}
    bool bad() const { return bad_; }
    std::size_t left() const { return b_.size(); }
    std::span<const uint8_t> take(std::size_t n)
    {
        if (bad_ || n > b_.size()) {
            bad_ = true;
            return {};
        }
        auto s = b_.first(n);
        b_ = b_.subspan(n);
        return s;
    }
    uint32_t u32()
    {
        auto s = take(4);
        return bad_ ? 0 : readU32(s.data());
    }
    uint16_t u16()
    {
        auto s = take(2);
        return bad_ ? 0 : static_cast<uint16_t>(s[0] | s[1] << 8);
    }
    uint8_t u8()
    {
        auto s = take(1);
        return bad_ ? 0 : s[0];
    }
    bool text(std::string &to)
    {
        const uint16_t n = u16();
        if (n > kMaxText)
            return false;
        auto s = take(n);
        to.assign(s.begin(), s.end());
        return !bad_;
    }

private:
    std::span<const uint8_t> b_;
    bool bad_ = false;
};

} // namespace

uint32_t readU32(const uint8_t *p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::vector<uint8_t> encodeRequest(Op op, std::initializer_list<int32_t> args)
{
    std::vector<uint8_t> out;
    out.reserve(kHeaderBytes + 1 + 4 * args.size());
    out.resize(kHeaderBytes);
    out.push_back(static_cast<uint8_t>(op));
    for (int32_t a : args)
        putU32(out, static_cast<uint32_t>(a));
    patchLength(out, 0);
    return out;
}

std::optional<Request> parseRequest(std::span<const uint8_t> body)
{
    Cursor c(body);
    const uint8_t op = c.u8();
    if (c.bad() || op == 0 || op >= kOpCount)
        return std::nullopt;
    Request r;
    r.op = static_cast<Op>(op);
    const std::size_t n = kArgumentCount[op];
    if (c.left() != 4 * n)
        return std::nullopt;
    for (std::size_t i = 0; i < n; ++i)
        r.args[i] = static_cast<int32_t>(c.u32());
    return r;
}

void encodeReply(std::vector<uint8_t> &out, Op op, uint8_t state, int32_t result, std::span<const int16_t> buffer,
                 const std::string &path, const std::vector<DriverFailure> &failures)
{
    const std::size_t at = out.size();
    out.resize(at + kHeaderBytes);
    out.push_back(static_cast<uint8_t>(op));
    out.push_back(state);
    putU32(out, static_cast<uint32_t>(result));
    putU32(out, static_cast<uint32_t>(buffer.size()));
    // A block is most of a reply: written in place, not pushed byte by byte.
    std::size_t at16 = out.size();
    out.resize(at16 + 2 * buffer.size());
    for (int16_t v : buffer) {
        out[at16++] = static_cast<uint8_t>(v);
        out[at16++] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    }
    putText(out, path);
    const std::size_t n = std::min(failures.size(), kMaxFailures);
    out.push_back(static_cast<uint8_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const DriverFailure &f = failures[i];
        out.push_back(static_cast<uint8_t>(f.kind));
        for (const std::string *s : {&f.library, &f.entry, &f.decoratedEntry, &f.reason, &f.line})
            putText(out, *s);
    }
    patchLength(out, at);
}

const char *replyErrorText(ReplyError e)
{
    switch (e) {
    case ReplyError::None:
        return "no error";
    case ReplyError::Short:
        return "the reply is shorter than its fields";
    case ReplyError::WrongOp:
        return "the reply answers another request";
    case ReplyError::TooManyElements:
        return "the reply carries more samples than the buffer holds";
    case ReplyError::TooFewElements:
        return "the reply carries fewer samples than the buffer holds";
    case ReplyError::BadText:
        return "a text of the reply is too long";
    case ReplyError::BadFailure:
        return "the reply reports a failure of an unknown kind";
    case ReplyError::Trailing:
        return "the reply has bytes after its last field";
    }
    return "unknown error";
}

std::size_t maxReplyBody(std::size_t bufferElements)
{
    constexpr std::size_t text = 2 + kMaxText;
    return 1 + 1 + 4 + 4 + 2 * bufferElements + text + 1 + kMaxFailures * (1 + 5 * text);
}

ReplyError parseReply(std::span<const uint8_t> body, Op expected, std::size_t bufferElements, Reply &out)
{
    Cursor c(body);
    const uint8_t op = c.u8();
    out.state = c.u8();
    out.result = static_cast<int32_t>(c.u32());
    const uint32_t n = c.u32();
    if (c.bad())
        return ReplyError::Short;
    if (op != static_cast<uint8_t>(expected))
        return ReplyError::WrongOp;
    out.op = expected;
    // Checked before anything is taken: the count is the host's word only.
    if (n > bufferElements)
        return ReplyError::TooManyElements;
    if (n < bufferElements)
        return ReplyError::TooFewElements;
    out.buffer = c.take(2 * std::size_t{n});
    if (c.bad())
        return ReplyError::Short;
    if (!c.text(out.path))
        return c.bad() ? ReplyError::Short : ReplyError::BadText;
    const uint8_t failures = c.u8();
    if (c.bad())
        return ReplyError::Short;
    if (failures > kMaxFailures)
        return ReplyError::BadFailure;
    out.failures.clear();
    for (uint8_t i = 0; i < failures; ++i) {
        const uint8_t kind = c.u8();
        if (!c.bad() && kind != static_cast<uint8_t>(DriverFailure::Kind::Library) &&
            kind != static_cast<uint8_t>(DriverFailure::Kind::Entry))
            return ReplyError::BadFailure;
        DriverFailure f{static_cast<DriverFailure::Kind>(kind), {}, {}, {}, {}, {}};
        for (std::string *s : {&f.library, &f.entry, &f.decoratedEntry, &f.reason, &f.line})
            if (!c.text(*s))
                return c.bad() ? ReplyError::Short : ReplyError::BadText;
        out.failures.push_back(std::move(f));
    }
    if (c.bad())
        return ReplyError::Short;
    return c.left() == 0 ? ReplyError::None : ReplyError::Trailing;
}

void copyBuffer(const Reply &reply, std::span<int16_t> to)
{
    const std::size_t n = std::min(to.size(), reply.buffer.size() / 2);
    const uint8_t *from = reply.buffer.data();
    for (std::size_t i = 0; i < n; ++i)
        to[i] = static_cast<int16_t>(static_cast<uint16_t>(from[2 * i] | from[2 * i + 1] << 8));
}

} // namespace adcard::host
