// Fuzzes the hexadecimal value reader against an independent count of
// significant digits and strtoull.
#include "acquisition/number_reader.h"

#include <cstdint>
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const adcard::ValueRead r = adcard::readHexValue(text);

    std::string run;
    for (char ch : text) {
        if (ch == ' ' || ch == '\t' || ch == '\n')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(ch)))
            break;
        run += ch;
    }
    const std::size_t firstSignificant = run.find_first_not_of('0');
    const std::size_t significant = firstSignificant == std::string::npos ? 0 : run.size() - firstSignificant;

    if (significant > 8) {
        if (r.status != adcard::ReadStatus::OutOfRange)
            std::abort();
        return 0;
    }
    if (r.status != adcard::ReadStatus::Ok)
        std::abort();
    const unsigned long long expected =
        significant == 0 ? 0 : std::strtoull(run.c_str() + firstSignificant, nullptr, 16);
    if (r.value != expected)
        std::abort();
    return 0;
}
