#include "review_cli/review_command.h"

#include <iostream>

int main(int argc, char **argv)
{
    std::ios::sync_with_stdio(false);
    return adcard::reviewCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
