#pragma once
// Test rows print as their name, so CTest lists "Rows/X.Y/name  # GetParam() = name"
// rather than a dump of the row's bytes, which holds pointers and changes with
// every build.
//
// GoogleTest finds PrintTo by argument-dependent lookup only, so rows declared
// inside a namespace need `using ::PrintTo;` in that namespace.
#include <ostream>
#include <string>

template <typename Row>
    requires requires(const Row &r) { r.name; }
void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

// The row's name as the test's name suffix.
inline constexpr auto kRowName = [](const auto &info) { return std::string(info.param.name); };
