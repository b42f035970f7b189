#pragma once
// UTF-8 to the wide strings Windows' calls take, for the *_win32.cpp files.
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);
// The program's command line as typed, the program first, in UTF-8: main()'s
// arguments come in the ANSI code page, which cannot hold every name.
std::vector<std::string> commandLine();

} // namespace adcard
