#include "review/time_entry.h"

#include <charconv>
#include <cmath>

namespace adcard {

namespace {

bool eat(std::string_view &text, std::string_view prefix)
{
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The full-width signs as bytes: they are matched, never drawn, so the
// program's font need not carry them.
constexpr char kFullWidthPlus[] = {char(0xEF), char(0xBC), char(0x8B), 0};
constexpr char kFullWidthMinus[] = {char(0xEF), char(0xBC), char(0x8D), 0};

} // namespace

std::optional<SecondsEntry> parseSecondsEntry(std::string_view text)
{
    text = trimmed(text);
    SecondsEntry entry;
    int sign = 1;
    if (eat(text, "+") || eat(text, kFullWidthPlus)) {
        entry.fromView = true;
    } else if (eat(text, "-") || eat(text, "−") || eat(text, kFullWidthMinus)) {
        entry.fromView = true;
        sign = -1;
    }
    text = trimmed(text);
    // Digits and one point only: from_chars alone would take "1e3", "inf".
    std::size_t n = 0, points = 0;
    while (n < text.size() && ((text[n] >= '0' && text[n] <= '9') || text[n] == '.'))
        points += text[n++] == '.';
    if (n == 0 || points > 1 || (n == 1 && points == 1))
        return std::nullopt;
    double value = 0;
    if (std::from_chars(text.data(), text.data() + n, value).ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    text = trimmed(text.substr(n));
    if (!text.empty() && !eat(text, "s") && !eat(text, "秒"))
        return std::nullopt;
    if (!text.empty())
        return std::nullopt;
    entry.seconds = sign * value;
    return entry;
}

} // namespace adcard
