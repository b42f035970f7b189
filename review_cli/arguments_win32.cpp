#include "review_cli/arguments.h"

#include "platform/utf8_path.h"

#include <windows.h>
#include <shellapi.h>

namespace adcard::cli {

std::vector<std::string> commandArguments(int, char **)
{
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> out;
    int n = 0;
    if (wchar_t **args = ::CommandLineToArgvW(::GetCommandLineW(), &n)) {
        for (int i = 1; i < n; ++i)
            out.push_back(narrow(args[i]));
        ::LocalFree(args);
    }
    return out;
}

} // namespace adcard::cli
