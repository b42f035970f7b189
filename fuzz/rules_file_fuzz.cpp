// Fuzzes the rules file's reader: any text is accepted or refused, never
// thrown on, and a refusal names a line of the text; what it accepts it
// writes back as a file that reads as the same rules and writes alike.
#include "rules/rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto r = adcard::rules::parseRules(text, {});
    if (const auto *e = std::get_if<adcard::rules::RuleError>(&r)) {
        const long lines = 1 + std::count(text.begin(), text.end(), '\n');
        if (e->line < 0 || e->line > lines || e->reason.empty() || e->message().empty())
            std::abort();
        return 0;
    }
    const std::string written = adcard::rules::rulesJson(std::get<adcard::rules::RuleSet>(r).rules);
    const auto again = adcard::rules::parseRules(written, {});
    if (!std::holds_alternative<adcard::rules::RuleSet>(again) ||
        adcard::rules::rulesJson(std::get<adcard::rules::RuleSet>(again).rules) != written)
        std::abort();
    return 0;
}
