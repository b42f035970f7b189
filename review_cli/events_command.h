#pragma once
// adcard-review events: what the armed rules did, from a recording's
// `events` table.
#include <iosfwd>
#include <string>
#include <vector>

namespace adcard::cli {

// `args` without the command's name. Throws UsageError or ReadError.
int eventsCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// `text` as a JSON string: quoted, with quotes, backslashes and control
// characters escaped; UTF-8 passes as it is.
std::string jsonString(const std::string &text);

} // namespace adcard::cli
