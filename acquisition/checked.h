#pragma once
// Overflow-checked integer arithmetic of fixed widths. The checked forms give
// nothing on overflow; the saturating form clamps to the type's limits.
#include <cstdint>
#include <optional>

namespace adcard {

std::optional<int32_t> checkedAdd32(int32_t a, int32_t b);
std::optional<int32_t> checkedSub32(int32_t a, int32_t b);
std::optional<int32_t> checkedMul32(int32_t a, int32_t b);
int16_t saturatingAdd16(int16_t a, int16_t b);

} // namespace adcard
