#pragma once
// What every command of adcard-review shares: opening the file and the run,
// the options every command takes, and printing events as text or JSON.
#include "query/query.h"
#include "review_cli/options.h"
#include "review_cli/output.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace adcard::cli {

// The valued options of a command, with those every command takes.
std::vector<std::string> withCommon(std::vector<std::string> more);
// The flags of a command, with those every command takes.
std::vector<std::string> withCommonFlags(std::vector<std::string> more);

// The file named, or the series of a folder, of several files or of a file
// of a series (--series ID chooses among several there); what was left out
// is said on `err`.
std::unique_ptr<RecordingReader> openReader(const Options &o, std::ostream &err);
// The file a run's writer would hold: the newest file of a series.
std::string writtenPath(const RecordingReader &reader, const Options &o);
// The run of --run, or the first with blocks.
std::unique_ptr<RecordedRun> openRun(RecordingReader &reader, const Options &o);

double seconds(const RecordedRun &run, int64_t scan);
// A time from the run's start for a reader: as many decimals as a scan needs.
std::string timeText(const RecordedRun &run, int64_t scan);
// Seconds with the decimals a scan needs, without the unit.
std::string secondsText(double rate, double seconds);

// Says on standard error what a result leaves out; throws for a failure.
void check(const query::Status &s, std::ostream &err);

int channelOption(const Options &o, const RecordedRun &run, bool required);

// One answer's line: its scan, then named fields. A field's JSON value and
// its text differ where text shows fewer digits.
struct Event {
    struct Field {
        std::string name, json, text;
    };
    int64_t scan;
    std::vector<Field> fields;
};

// Events as {"count": n, "events": [...]} or one line each and a count.
void printEvents(const RecordedRun &run, int64_t count, const std::vector<Event> &events, bool json,
                 std::ostream &out);

} // namespace adcard::cli
