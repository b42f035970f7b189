#pragma once
// adcard-review's commands that ask the query engine; each returns the exit
// status and throws UsageError or ReadError (options.h).
#include <iosfwd>
#include <string>
#include <vector>

namespace adcard::cli {

int search(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int peaks(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int changes(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int losses(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int spectrum(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace adcard::cli
