#include "review_cli/arguments.h"

namespace adcard::cli {

std::vector<std::string> commandArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

} // namespace adcard::cli
