#pragma once
// The frames between HostDriver and adcard-host over the host's standard
// input and output: one request, then one reply. All fields little-endian.
//
//   frame    u32 length of what follows, u8 opcode, body
//   request  the entry's arguments, each in an i32 slot (the contract passes
//            every argument in a 32-bit slot); ADResult and Tvo_DI carry the
//            caller's buffer size in elements instead of its address
//   reply    u8 loader state, i32 result, u32 n, n x i16 (the caller's buffer
//            as the driver left it), u16 + bytes: the library's path (sent
//            once, when it is first known), u8 failures, each u8 kind and
//            five u16-length strings (library, entry, decorated, reason, line)
//
// The host sends a Hello reply unasked as soon as it runs, with the protocol
// version as its result. Nothing here calls the system or Qt: the fuzz target
// links it as it is.
#include "driver/backend.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace adcard::host {

inline constexpr int32_t kProtocolVersion = 1;

enum class Op : uint8_t { Hello, Initial, StartIntr, StopIntr, QueryBuf, ADResult, GetLastADError, Tvo_DI, Tvo_DO };
inline constexpr std::size_t kOpCount = 9;

// The i32 slots each request carries.
inline constexpr std::array<std::size_t, kOpCount> kArgumentCount{0, 4, 7, 0, 0, 1, 0, 2, 2};

// Far above the panel's 4002 elements, far below what a 32-bit host can hold.
inline constexpr uint32_t kMaxBufferElements = 1u << 24;
inline constexpr std::size_t kMaxText = 4096;   // each string of a reply
inline constexpr std::size_t kMaxFailures = 4;  // a call reports at most two
inline constexpr std::size_t kHeaderBytes = 4;  // the length field

// Loader state bits of a reply.
inline constexpr uint8_t kOpenAttempted = 1;
inline constexpr uint8_t kOpened = 2;

struct Request {
    Op op = Op::Hello;
    std::array<int32_t, 7> args{};
};

std::vector<uint8_t> encodeRequest(Op op, std::initializer_list<int32_t> args);
// `body` is what follows the length field. Null for anything malformed.
std::optional<Request> parseRequest(std::span<const uint8_t> body);

struct Reply {
    Op op = Op::Hello;
    uint8_t state = 0;
    int32_t result = 0;
    std::span<const uint8_t> buffer; // parsed: 2 bytes an element, inside the frame
    std::string path;
    std::vector<DriverFailure> failures; // Library or Entry
};

// Appends a whole frame, length field included.
void encodeReply(std::vector<uint8_t> &out, Op op, uint8_t state, int32_t result, std::span<const int16_t> buffer,
                 const std::string &path, const std::vector<DriverFailure> &failures);

enum class ReplyError { None, Short, WrongOp, TooManyElements, TooFewElements, BadText, BadFailure, Trailing };
const char *replyErrorText(ReplyError e);

// The largest body a reply to a request for `bufferElements` may have; a
// length field above it is refused before anything more is read.
std::size_t maxReplyBody(std::size_t bufferElements);

// Parses the body of a reply to `expected`, whose buffer must hold exactly
// `bufferElements` elements. `out.buffer` points into `body`.
ReplyError parseReply(std::span<const uint8_t> body, Op expected, std::size_t bufferElements, Reply &out);

// Copies a parsed reply's buffer into `to`, never more than `to.size()` elements.
void copyBuffer(const Reply &reply, std::span<int16_t> to);

uint32_t readU32(const uint8_t *p);

} // namespace adcard::host
