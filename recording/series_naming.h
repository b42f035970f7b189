#pragma once
// The names and the card-time arithmetic of a series of files: a recording
// NAME.h5 split into NAME_YYYYMMDD-HHMMSS.h5 beside it, each named by the
// local time at which its span begins. Free of HDF5, so that the tests and
// the retention check use them as they are.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace adcard::series {

// "NAME_20261208-143000.h5" in the folder of `basePath` ("dir/NAME.h5"),
// from the local time of `startNs`; with `n` > 1, "NAME_20261208-143000_2.h5".
std::string fileName(const std::string &basePath, int64_t startNs, int n = 1);
// The first of fileName(.., 1), (.., 2), ... that `taken` says is free: a
// name another file holds, or two files that begin in one second, get
// distinct names.
std::string freeName(const std::string &basePath, int64_t startNs,
                     const std::function<bool(const std::string &path)> &taken);
// Whether `name` (a file name, no folder) has the shape of a file of the
// series of `basePath`: NAME_YYYYMMDD-HHMMSS.h5 or with _N before .h5.
bool nameOfSeries(const std::string &basePath, const std::string &name);
// The folder of `basePath` ("." when it has none).
std::string folderOf(const std::string &basePath);

// A new series id: 32 random hex digits.
std::string newId();

// Card time: scans at `rate` scans per second. The first scan at or after
// `ns` nanoseconds of card time (rounded up), and the card time of `scans`
// (rounded down); exact for any duration a recording can have.
int64_t scansAt(int64_t ns, int64_t rate);
int64_t nsOfScans(int64_t scans, int64_t rate);

// "2h", "10m", "30s", "1d", or "500MiB": what a file's attribute states.
std::string splitText(int64_t everyNs, int64_t everyBytes);

} // namespace adcard::series
