#include "acquisition/number_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace adcard {

namespace {

std::string withoutBlanks(std::string_view text)
{
    std::string s;
    s.reserve(text.size());
    for (char ch : text)
        if (ch != ' ' && ch != '\t' && ch != '\n')
            s += ch;
    return s;
}

bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }

int hexDigit(char ch)
{
    if (isDigit(ch))
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// The leading run of digits in `base` (8 or 16) as a magnitude; saturates far
// above the 16-bit range, which is all the caller needs to know.
double radixMagnitude(std::string_view s, int base)
{
    double value = 0;
    for (char ch : s) {
        const int d = hexDigit(ch);
        if (d < 0 || d >= base)
            break;
        value = std::fmin(value * base + d, 1e300);
    }
    return value;
}

// The longest leading decimal number, [+-] digits [. digits] [(e|E) [+-] digits],
// rounded half to even and checked against the 16-bit range on its digits, so
// that a text of any length is read exactly: no double ever rounds it first.
GroupRead decimalGroup(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    std::string digits; // integer and fraction digits, leading zeros dropped
    int64_t fractionDigits = 0;
    bool any = false;
    const auto take = [&](bool fraction) {
        while (i < s.size() && isDigit(s[i])) {
            any = true;
            if (!digits.empty() || s[i] != '0')
                digits += s[i];
            fractionDigits += fraction;
            ++i;
        }
    };
    take(false);
    if (i < s.size() && s[i] == '.') {
        ++i;
        take(true);
    }
    if (!any)
        return {};
    // Clamped far beyond any text that could still land in range.
    constexpr int64_t kExponentLimit = int64_t{1} << 40;
    int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            negativeExponent = s[j++] == '-';
        for (; j < s.size() && isDigit(s[j]); ++j)
            exponent = std::min(exponent * 10 + (s[j] - '0'), kExponentLimit);
        if (negativeExponent)
            exponent = -exponent;
    }
    if (digits.empty())
        return {}; // zero, however it is written

    // The value is 0.<digits> x 10^intDigits.
    const int64_t intDigits = static_cast<int64_t>(digits.size()) - fractionDigits + exponent;
    if (intDigits > 5)
        return {ReadStatus::OutOfRange, 0}; // at least 100000
    int32_t magnitude = 0;
    for (int64_t k = 0; k < intDigits; ++k)
        magnitude = magnitude * 10 + (k < static_cast<int64_t>(digits.size()) ? digits[static_cast<std::size_t>(k)] - '0' : 0);
    // The first digit after the point decides, unless it is a 5 exactly.
    const int64_t first = std::max<int64_t>(intDigits, 0);
    bool up = false;
    if (intDigits >= 0 && first < static_cast<int64_t>(digits.size())) {
        const char d = digits[static_cast<std::size_t>(first)];
        const bool restNonZero = digits.find_first_not_of('0', static_cast<std::size_t>(first) + 1) != std::string::npos;
        up = d > '5' || (d == '5' && (restNonZero || magnitude % 2 == 1));
    }
    const int32_t rounded = (negative ? -1 : 1) * (magnitude + (up ? 1 : 0));
    if (rounded < std::numeric_limits<int16_t>::min() || rounded > std::numeric_limits<int16_t>::max())
        return {ReadStatus::OutOfRange, 0};
    return {ReadStatus::Ok, static_cast<int16_t>(rounded)};
}

} // namespace

GroupRead readGroupNumber(std::string_view text)
{
    const std::string s = withoutBlanks(text);
    double value;
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h'))
        value = radixMagnitude(std::string_view(s).substr(2), 16);
    else if (s.size() >= 2 && s[0] == '&' && (s[1] == 'O' || s[1] == 'o'))
        value = radixMagnitude(std::string_view(s).substr(2), 8);
    else
        return decimalGroup(s);

    // A whole number here; beyond 2^53 it is far out of range anyway.
    if (!(value <= std::numeric_limits<int16_t>::max()))
        return {ReadStatus::OutOfRange, 0};
    return {ReadStatus::Ok, static_cast<int16_t>(value)};
}

ValueRead readHexValue(std::string_view text)
{
    const std::string s = withoutBlanks(text);
    uint64_t value = 0;
    for (char ch : s) {
        const int d = hexDigit(ch);
        if (d < 0)
            break;
        value = value * 16 + static_cast<uint64_t>(d);
        if (value > std::numeric_limits<uint32_t>::max())
            return {ReadStatus::OutOfRange, 0};
    }
    return {ReadStatus::Ok, static_cast<uint32_t>(value)};
}

} // namespace adcard
