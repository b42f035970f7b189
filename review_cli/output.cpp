#include "review_cli/output.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace adcard::cli {

namespace {

constexpr const char *kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the valid UTF-8 sequence at s[at], or 0.
std::size_t sequenceAt(const std::string &s, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    const unsigned b0 = byte(at);
    if (b0 < 0x80)
        return 1;
    const auto cont = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
    // Overlong forms, surrogates and code points past U+10FFFF are refused by
    // the bounds of the second byte.
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(at + 1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned b1 = byte(at + 1);
        const bool ok = b0 == 0xE0 ? b1 >= 0xA0 && b1 <= 0xBF : b0 == 0xED ? b1 >= 0x80 && b1 <= 0x9F : cont(at + 1);
        return ok && cont(at + 2) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned b1 = byte(at + 1);
        const bool ok = b0 == 0xF0 ? b1 >= 0x90 && b1 <= 0xBF : b0 == 0xF4 ? b1 >= 0x80 && b1 <= 0x8F : cont(at + 1);
        return ok && cont(at + 2) && cont(at + 3) ? 4 : 0;
    }
    return 0;
}

} // namespace

std::string num(double v)
{
    if (!std::isfinite(v))
        return "null";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string fixed(double v, int decimals)
{
    if (!std::isfinite(v))
        return "—";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    // No "-0.000": a value that rounds to zero reads as zero.
    std::string text = buf;
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return text;
}

std::string validUtf8(const std::string &s)
{
    std::string out;
    for (std::size_t at = 0; at < s.size();) {
        const std::size_t n = sequenceAt(s, at);
        out += n ? s.substr(at, n) : kReplacement;
        at += n ? n : 1;
    }
    return out;
}

std::string jsonText(const std::string &s)
{
    std::string out = "\"";
    for (const char ch : validUtf8(s)) {
        const auto b = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (b < 0x20 || b == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", b);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

} // namespace adcard::cli
