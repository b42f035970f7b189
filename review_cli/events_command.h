#pragma once
// adcard-review events: what the armed rules did, from a recording's
// `events` table; with --rules, what other rules would have done (a dry run
// through the panel's own evaluator).
#include <iosfwd>
#include <string>
#include <vector>

namespace adcard::cli {

// `args` without the command's name. Throws UsageError or ReadError.
int eventsCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace adcard::cli
