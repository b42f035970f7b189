#pragma once
// The two number readers of the digital-output text boxes. Blanks, tabs and
// line feeds anywhere in the text are skipped; the longest leading number
// counts and the rest is ignored; a text without a leading number reads as 0.
#include <cstdint>
#include <string_view>

namespace adcard {

enum class ReadStatus { Ok, OutOfRange };

struct GroupRead {
    ReadStatus status = ReadStatus::Ok;
    int16_t group = 0; // rounded half to even; valid when status is Ok
};

struct ValueRead {
    ReadStatus status = ReadStatus::Ok;
    uint32_t value = 0; // valid when status is Ok
};

// A decimal number (sign, fraction, exponent; the separator is always '.'),
// or a hexadecimal one after "&H", or an octal one after "&O". The result is
// rounded half to even and must fit a signed 16-bit integer.
GroupRead readGroupNumber(std::string_view text);

// The leading run of hexadecimal digits; it must fit 32 bits.
ValueRead readHexValue(std::string_view text);

} // namespace adcard
