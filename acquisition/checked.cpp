#include "acquisition/checked.h"

#include <limits>

namespace adcard {

std::optional<int32_t> checkedAdd32(int32_t a, int32_t b)
{
    int32_t r;
    if (__builtin_add_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

std::optional<int32_t> checkedSub32(int32_t a, int32_t b)
{
    int32_t r;
    if (__builtin_sub_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

std::optional<int32_t> checkedMul32(int32_t a, int32_t b)
{
    int32_t r;
    if (__builtin_mul_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

int16_t saturatingAdd16(int16_t a, int16_t b)
{
    const int32_t sum = int32_t{a} + int32_t{b};
    if (sum > std::numeric_limits<int16_t>::max())
        return std::numeric_limits<int16_t>::max();
    if (sum < std::numeric_limits<int16_t>::min())
        return std::numeric_limits<int16_t>::min();
    return static_cast<int16_t>(sum);
}

} // namespace adcard
