#pragma once
// UTF-8 to the wide strings Windows' calls take, for the *_win32.cpp files.
#include <string>
#include <string_view>

namespace adcard {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

} // namespace adcard
