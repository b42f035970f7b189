#pragma once
// A range of a recorded run as CSV, for a spreadsheet or a script: free of
// widgets, so the review window, adcard-review and the tests drive the same
// code.
#include "recording/recording_reader.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace adcard {

// Called now and then with the share done (0..1); false cancels.
using ExportProgress = std::function<bool(double)>;

struct ExportResult {
    // Refused: the target was not touched, since writing it would destroy
    // what it holds (a bad argument, where Failed is the system's refusal).
    enum class Outcome { Written, Cancelled, Failed, Refused };
    Outcome outcome = Outcome::Written;
    int64_t rows = 0;  // data rows written
    std::string error; // when Failed or Refused: what went wrong, naming the file
};

// Where an export goes, and what it must leave alone.
struct ExportTarget {
    std::string path;        // UTF-8
    std::string source;      // the recording read: never replaced, under any of its names
    bool overwrite = false;  // whether a file already at `path` may be replaced
};

// Why `target` must not receive an export: it is the source (the same file,
// however named), a panel is recording it, a program writes it, or it
// exists and may not be replaced. Empty when it may.
std::string refusedTarget(const ExportTarget &target);

// How the file opens. A spreadsheet wants the mark and the names a person
// knows; a script wants the plain header it has always read.
struct CsvStyle {
    // The UTF-8 byte order mark, without which Excel reads the file in the
    // local code page and garbles every name that is not ASCII.
    bool bom = false;
    // The names the review window shows ("时间 (s)", "入口压力 (bar)",
    // "通道2"), instead of "time (s)", "入口压力 (bar)", "channel 2 (V)".
    bool windowNames = false;
    // Lines beginning "# " before the header: the run's start, each
    // channel's conversion from codes, and the markers within the range.
    bool comments = false;
    // The start and the markers' clock times in UTC instead of local time.
    bool utc = false;
};

// A header line with units, then one row per present scan in [first, last):
// the time in seconds from the run's start (the scan index where the run's
// rate is unknown), then each channel in its unit (volts unless the run
// names another; the header says which) by the run's calibration
// (`channels`, from 0, in that order; empty: all). Numbers always use '.',
// whatever the stream's or the program's locale.
ExportResult writeCsv(const RecordedRun &run, int64_t first, int64_t last, std::ostream &out,
                      const ExportProgress &progress = {}, const std::vector<int> &channels = {},
                      const CsvStyle &style = {});

// writeCsv into a new file beside the target, renamed to its name only once
// it is whole and on disk: a cancelled or failed export leaves nothing under
// that name, and a file already there is replaced only by a complete one.
// The target is checked (refusedTarget) before and again at the rename: a
// recording may have begun there meanwhile.
ExportResult exportCsvFile(const RecordedRun &run, int64_t first, int64_t last, const ExportTarget &target,
                           const ExportProgress &progress = {}, const std::vector<int> &channels = {},
                           const CsvStyle &style = {});

// About `bytes`, in the decimal unit that fits ("870 B", "4.9 MB", "35 GB"):
// one decimal below 10 of the unit, none above.
std::string approximateSize(double bytes);

} // namespace adcard
