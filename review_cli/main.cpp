#include "review_cli/arguments.h"
#include "review_cli/review_command.h"

#include <iostream>

int main(int argc, char **argv)
{
    std::ios::sync_with_stdio(false);
    return adcard::reviewCommand(adcard::cli::commandArguments(argc, argv), std::cout, std::cerr);
}
