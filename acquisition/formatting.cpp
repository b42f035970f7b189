#include "acquisition/formatting.h"

#include <charconv>
#include <cmath>

namespace adcard {

namespace {
template <typename T>
std::string decimal(T value)
{
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec; // cannot fail: the buffer holds any 64-bit integer
    return std::string(buf, end);
}
} // namespace

std::string counterText(int32_t value)
{
    std::string s = decimal(value);
    if (value >= 0)
        s.insert(s.begin(), ' ');
    return s;
}

std::string failureText(int32_t code)
{
    return "Error=" + decimal(code);
}

namespace {

std::string volts3(float volts, std::string_view decimalSeparator, bool leadingZero)
{
    // Round the exact value of the float to thousandths in integers, so that
    // neither the C locale nor printf's rounding mode plays any part.
    const double v = static_cast<double>(volts);
    const bool negative = std::signbit(v) && v != 0.0;
    const double thousandths = std::nearbyint(std::fabs(v) * 1000.0);
    if (!std::isfinite(thousandths))
        return negative ? "-Inf" : (std::isnan(v) ? "NaN" : "Inf");
    // Beyond 2^63 thousandths the float has no fractional digits anyway.
    const auto units = static_cast<unsigned long long>(std::fmin(thousandths, 9.2e18));
    const unsigned long long whole = units / 1000;
    const unsigned frac = static_cast<unsigned>(units % 1000);

    std::string s;
    s.reserve(12 + decimalSeparator.size());
    if (negative)
        s += '-';
    if (whole != 0 || leadingZero)
        s += decimal(whole);
    s += decimalSeparator;
    s += static_cast<char>('0' + frac / 100);
    s += static_cast<char>('0' + frac / 10 % 10);
    s += static_cast<char>('0' + frac % 10);
    return s;
}

} // namespace

std::string voltsText(float volts, std::string_view decimalSeparator)
{
    return volts3(volts, decimalSeparator, false);
}

std::string readoutVoltsText(float volts, std::string_view decimalSeparator)
{
    return volts3(volts, decimalSeparator, true);
}

std::string hex16(int16_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    auto bits = static_cast<uint16_t>(value);
    char buf[4];
    int n = 0;
    do {
        buf[n++] = digits[bits & 0xF];
        bits = static_cast<uint16_t>(bits >> 4);
    } while (bits != 0);
    std::string s;
    while (n > 0)
        s += buf[--n];
    return s;
}

std::string bitRow(int16_t value)
{
    std::string s;
    s.reserve(32);
    for (int i = 7; i >= 0; --i) {
        s += "   ";
        s += (static_cast<uint16_t>(value) >> i) & 1u ? '1' : '0';
    }
    return s;
}

std::string bitHeader()
{
    std::string s(9, ' ');
    for (int i = 7; i >= 0; --i) {
        s += "   ";
        s += static_cast<char>('0' + i);
    }
    return s;
}

std::string portRowText(int16_t value)
{
    return hex16(value) + "   " + bitRow(value);
}

std::string portsSummaryText(int16_t p0, int16_t p1)
{
    return hex16(p0) + "  " + hex16(p1);
}

} // namespace adcard
