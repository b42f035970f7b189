#pragma once
// Caption texts. Pure functions, no locale is read: the caller passes the
// decimal separator.
#include <cstdint>
#include <string>
#include <string_view>

namespace adcard {

// Counter text: a leading blank for zero or positive numbers, "-" otherwise.
std::string counterText(int32_t value);

// "Error=" followed by the code in shortest decimal form.
std::string failureText(int32_t code);

// The "##.000" pattern: "-" for a negative value, no integer digit when the
// integer part is 0, `decimalSeparator`, exactly three decimals.
std::string voltsText(float volts, std::string_view decimalSeparator);
// The same rounding with the integer digit always written ("0.024"), as a
// reader of the other windows expects: only the panel's captions leave it out.
std::string readoutVoltsText(float volts, std::string_view decimalSeparator);

// 16-bit pattern in upper-case hexadecimal without leading zeros (1..4 digits).
std::string hex16(int16_t value);

// Bits 7..0 of `value`, each preceded by three blanks.
std::string bitRow(int16_t value);

// The fixed header above the bit rows: nine blanks, then "   7" .. "   0".
std::string bitHeader();

// hex16(value), three blanks, bitRow(value).
std::string portRowText(int16_t value);

// hex16(p0), two blanks, hex16(p1).
std::string portsSummaryText(int16_t p0, int16_t p1);

} // namespace adcard
