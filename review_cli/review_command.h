#pragma once
// adcard-review: the review's answers on the command line, without a display.
#include <iosfwd>
#include <string>
#include <vector>

namespace adcard {

// Runs `args` (without the program's name); returns the exit status: 0, 2
// for bad arguments or a file that is not a recording, 1 for a read error.
int reviewCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace adcard
