#pragma once
// The command's arguments in UTF-8, one version per system
// (arguments_posix.cpp, arguments_win32.cpp).
#include <string>
#include <vector>

namespace adcard::cli {

// The arguments after the program's name. Windows hands main() its
// arguments in the ANSI code page, which cannot hold every file name, and
// the reader and the export take UTF-8 paths; there the console is also set
// to show the UTF-8 the command prints.
std::vector<std::string> commandArguments(int argc, char **argv);

} // namespace adcard::cli
