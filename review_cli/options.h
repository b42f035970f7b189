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

// Options as GNU programs take them: "--name value" or "--name=value",
// "-o OUT" or "-oOUT", in any order around the file; "--" ends the options,
// so that a file may begin with "-".
class Options {
public:
    // `flags` take no value; every other option takes one.
    Options(const std::vector<std::string> &args, const std::vector<std::string> &valued,
            const std::vector<std::string> &flags);
    // The first recording named, and all of them (several files of a series).
    const std::string &file() const { return files_.front(); }
    const std::vector<std::string> &files() const { return files_; }
    bool has(const std::string &name) const { return values_.count(name) > 0; }
    std::optional<std::string> value(const std::string &name) const;
    // A finite number.
    double number(const std::string &name, double fallback) const;
    // A whole number within [lo, hi], decimal or hexadecimal ("0x1f").
    int64_t integer(const std::string &name, int64_t fallback, int64_t lo, int64_t hi) const;
    // Times in and out in UTC rather than this machine's local time.
    bool utc() const { return has("--utc"); }

private:
    void take(const std::string &name, const std::string &value);

    std::vector<std::string> files_;
    std::map<std::string, std::string> values_;
};

// `seconds` as scans at `rate` (scans/s; 1 where unknown), refused, naming
// `what`, where the scan would not fit 64 bits.
int64_t secondsToScans(double seconds, double rate, const std::string &what);

// A time as seconds from the run's start, or as an ISO 8601 time (local
// without an offset, or UTC with `utc`), to a scan, clamped to the run's
// end. A clock time before the run's first scan by less than the 1 ms that
// info prints is the run's start.
int64_t parseTime(const std::string &text, const RecordedRunInfo &run, const std::string &what, bool utc);

// [from, to) of the options, checked: not inverted, not empty.
std::pair<int64_t, int64_t> scanRange(const Options &o, const RecordedRunInfo &run);

// "1,3" to {0, 2}; every channel must exist.
std::vector<int> parseChannels(const std::string &text, int channels);

} // namespace adcard::cli
