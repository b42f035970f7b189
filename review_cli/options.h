#pragma once
// The command line of adcard-review: options, times and numbers, each
// refused with a line that names what is wrong.
#include "recording/recording_reader.h"

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace adcard::cli {

// Bad arguments: exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A read that failed: exit status 1.
class ReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Options {
public:
    // `flags` take no value; every other option takes one.
    Options(const std::vector<std::string> &args, const std::vector<std::string> &valued,
            const std::vector<std::string> &flags);
    const std::string &file() const { return file_; }
    bool has(const std::string &name) const { return values_.count(name) > 0; }
    std::optional<std::string> value(const std::string &name) const;
    double number(const std::string &name, double fallback) const;
    int64_t integer(const std::string &name, int64_t fallback, int64_t lo, int64_t hi) const;

private:
    std::string file_;
    std::map<std::string, std::string> values_;
};

// A time as seconds from the run's start or as ISO 8601, to a scan.
int64_t parseTime(const std::string &text, const RecordedRunInfo &run, const char *what);

// [from, to) of the options, checked: not inverted, not empty.
std::pair<int64_t, int64_t> scanRange(const Options &o, const RecordedRunInfo &run);

// "1,3" to {0, 2}; every channel must exist.
std::vector<int> parseChannels(const std::string &text, int channels);

// A number as JSON and as text: the shortest form that reads back the same.
std::string num(double v);

} // namespace adcard::cli
