#include "review_cli/arguments.h"

#include "platform/utf8_path.h"

#include <windows.h>

namespace adcard::cli {

std::vector<std::string> commandArguments(int, char **)
{
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> out = commandLine();
    if (!out.empty())
        out.erase(out.begin()); // the program
    return out;
}

} // namespace adcard::cli
