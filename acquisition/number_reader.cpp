#include "number_reader.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

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

// The longest leading decimal number: [+-] digits [. digits] [(e|E) [+-] digits].
// Gives 0 when no digit leads, and infinity when the number is too large
// for a double.
double decimalNumber(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    std::size_t end = i;
    bool positiveExponent = true;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            positiveExponent = s[j++] == '+';
        const std::size_t expDigits = j;
        while (j < s.size() && isDigit(s[j]))
            ++j;
        if (j > expDigits)
            end = j;
    }
    // from_chars takes no leading '+', and reads with '.' whatever the locale.
    std::string number(s.substr(mantissaStart, end - mantissaStart));
    if (number.front() == '.')
        number.insert(number.begin(), '0');
    double value = 0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range)
        value = positiveExponent ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
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
        value = decimalNumber(s);

    // The default rounding mode sends an exact half to the even neighbour.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<int16_t>::min() &&
          rounded <= std::numeric_limits<int16_t>::max()))
        return {ReadStatus::OutOfRange, 0};
    return {ReadStatus::Ok, static_cast<int16_t>(rounded)};
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
