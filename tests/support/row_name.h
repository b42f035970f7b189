#pragma once
// Test rows print as their name, so CTest lists "Rows/X.Y/name  # GetParam() = name".
#include <ostream>

template <typename Row>
    requires requires(const Row &r) { r.name; }
void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

// The row's name as the test's name suffix.
inline constexpr auto kRowName = [](const auto &info) { return std::string(info.param.name); };
