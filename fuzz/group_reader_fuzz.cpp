// Fuzzes the group-number reader. Besides the sanitizers' checks for reads
// past the text, it checks properties any correct reader keeps.
#include "acquisition/number_reader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
bool same(const adcard::GroupRead &a, const adcard::GroupRead &b)
{
    return a.status == b.status && (a.status != adcard::ReadStatus::Ok || a.group == b.group);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const adcard::GroupRead r = adcard::readGroupNumber(text);

    // Blanks, tabs and line feeds are skipped anywhere.
    std::string squeezed;
    for (char ch : text)
        if (ch != ' ' && ch != '\t' && ch != '\n')
            squeezed += ch;
    if (!same(r, adcard::readGroupNumber(squeezed)))
        std::abort();

    // What follows the longest leading number is ignored: a trailing letter
    // that no number can contain changes nothing.
    if (!same(r, adcard::readGroupNumber(std::string(text) + "x")))
        std::abort();

    // A text of at most four decimal digits reads as exactly that integer.
    if (!squeezed.empty() && squeezed.size() <= 4 &&
        squeezed.find_first_not_of("0123456789") == std::string::npos) {
        if (r.status != adcard::ReadStatus::Ok || r.group != std::atoi(squeezed.c_str()))
            std::abort();
    }
    return 0;
}
