// adcard-review: each command opens the recording with the same reader as
// the window, asks the same query engine, and prints text or one JSON
// object. This file holds the help, the commands that only read (info,
// stats, export) and the dispatch; query_commands.cpp the others.
#include "review_cli/review_command.h"

#include "data/channel_units.h"
#include "platform/local_time.h"
#include "platform/native_file.h"
#include "export/csv_export.h"
#include "review_cli/command_support.h"
#include "review_cli/query_commands.h"
#include "review_cli/events_command.h"

#include <cmath>
#include <ostream>

#ifndef ADCARD_VERSION
#define ADCARD_VERSION "unknown"
#endif

namespace adcard {

namespace {

using namespace cli;

constexpr const char *kHelp = R"(usage: adcard-review COMMAND FILE [options]
       adcard-review --help | --version

Answers from a recording, without a display. Every command takes --run N,
--series ID, --json and --utc as well as the options shown.

FILE may also be a folder holding a recording split into files, one file of
it, or several of its files: they are read as one recording, in the order of
their places in it. Of two split recordings in one folder the newest is read,
unless --series ID names the other (the notes on standard error list both).

  info FILE                    the format, and each run's start, duration,
                               blocks, holes, missed, dropped, markers, and
                               each channel's name and unit
  stats FILE [--from T] [--to T]
                               per channel min, max, mean, RMS, scans
  search FILE --channel C (--above V | --below V) [--hysteresis H]
              [--limit N] [--from T] [--to T]
                               where the channel goes above (below) V
  peaks FILE --channel C [--lowest] [--count N] [--prominence P]
             [--apart S] [--from T] [--to T]
                               the N highest (lowest) distinct crests
  changes FILE [--port 0|1] [--bit B | --pattern X [--mask M]]
               [--limit N] [--from T] [--to T]
                               changes of a digital input bit or port, or
                               where a port comes to equal a pattern
                               (X and M in decimal or as 0x5)
  losses FILE [--limit N] [--from T] [--to T]
                               the holes (missed or dropped blocks), markers
  export FILE [--channels 1,3] [--from T] [--to T] -o OUT.csv [--overwrite]
              [--bom | --no-bom] [--window-names] [--with-header-comments]
                               every scan of the range as CSV;
                               OUT.csv is replaced only with --overwrite,
                               and never when it is FILE or being recorded
  spectrum FILE --from T --to T [--channel C] [--full]
                               amplitude spectrum (Hann window): DC, peak
  events FILE [--limit N] [--rules RULES]
                               what the armed rules did: each event's time,
                               scan, run, rule, fired or cleared, value (and
                               what went wrong, if anything); with --rules,
                               what those rules would have done (dry run)

Values, levels (V, H) and prominences (P) are in each channel's unit, as the
recording names it: volts unless the operator gave the channel another
(info lists them). Text shows the digits one code's step justifies; JSON
shows every digit.

  --run N       the run (default: the first with blocks)
  --series ID   of a folder holding several split recordings, the one whose
                series ID this is
  --from T, --to T
                seconds from the run's start (120, 0.5), or a clock time in
                ISO 8601: 2026-12-07T12:00:05.5 is local time, and an offset
                (Z, +08:00, +0800, +08) says whose; past the end means the end
  --utc         clock times without an offset are UTC, and times print in
                UTC (otherwise in this machine's local time, with its offset)
  --json        one JSON object; a run's "start" is in UTC, "start_local" not
  --option=value is the same as --option value; -- ends the options.

Levels: above V fires where the value is > V, and counts again only once the
value has been <= V - H; below V fires where it is < V, and again once it
has been >= V + H. A range that begins past V counts its first scan.

Peaks: a scan is a peak where the signal falls by at least P on both sides
before a higher scan (default P: 8 codes or 1 % of the channel's full range,
the larger); a crest at the range's edge is not one. --apart S keeps no two
peaks closer than S seconds. Of equal crests, the earliest.

Export: the header is time (s) (or scan where the rate is unknown), then
NAME (UNIT) for each channel, channel N (V) where it has no name.
--window-names uses the review window's names instead, as its own export
does: 时间 (s), 入口压力 (bar), 通道2. --bom starts the file
with the UTF-8 byte order mark that Excel needs to read names that are not
ASCII (default: --no-bom). --with-header-comments puts lines beginning
"# " before the header: the run's start, each channel's conversion from
codes, and the markers within the range.

Exit status: 0; 2 for bad arguments (naming the option) or a file that is
not a recording; 1 for a read error.

Examples:
  adcard-review info day.h5
  adcard-review stats day.h5 --from 3600 --to 7200 --json
  adcard-review search day.h5 --channel 2 --above 4.5 --limit 20
  adcard-review peaks day.h5 --channel 1 --count 10 --apart 60
  adcard-review changes day.h5 --port 0 --pattern 0x5 --mask 0xf
  adcard-review export day.h5 --from 2026-12-07T12:00:00+01:00 --to 60 \
                --channels 1,3 -o minute.csv
  adcard-review spectrum day.h5 --from 10 --to 110 --channel 1 --json
)";

// "(still being recorded)" only while a writer holds the file; a run left
// without its end by a crash (even once h5clear has cleared the file's
// flags) was not closed.
std::string openNote(const RecordedRunInfo &i, const std::string &path)
{
    if (!i.open)
        return "";
    return nativefile::otherWriter(path) != nativefile::Writer::None
               ? " (still being recorded)"
               : " (not closed: the recording ended without closing it, as in a crash)";
}

void printRunInfo(const RecordedRunInfo &i, std::size_t markers, const Options &o, const std::string &written,
                  bool first, std::ostream &out)
{
    const bool known = i.startTimeNs != 0 || !i.startTime.empty();
    const double duration = i.scansPerSecond > 0 ? double(i.scans) / i.scansPerSecond : 0;
    if (o.has("--json")) {
        const std::string start = known ? jsonText(formatLocalTime(i.startTimeNs, 3, true)) : "null";
        const std::string local = known ? jsonText(formatLocalTime(i.startTimeNs, 3, false)) : "null";
        out << (first ? "" : ", ") << "{\"run\": " << i.number << ", \"start\": " << start
            << ", \"start_local\": " << local << ", \"duration\": " << num(duration) << ", \"channels\": " << i.channels
            << ", \"rate\": " << num(i.scansPerSecond) << ", \"blocks\": " << i.blocks << ", \"holes\": " << i.holes
            << ", \"missed\": " << i.missed << ", \"dropped\": " << i.dropped << ", \"markers\": " << markers
            << ", \"open\": " << (i.open ? "true" : "false")
            << ", \"being_recorded\": " << (openNote(i, written).find("still") != std::string::npos ? "true" : "false")
            << ", \"channel_units\": [";
    } else {
        out << "run " << i.number << ": start "
            << (known ? formatLocalTime(i.startTimeNs, 3, o.utc()) : std::string("unknown")) << ", "
            << secondsText(i.scansPerSecond, duration) << " s, " << i.channels << " channels at "
            << num(i.scansPerSecond) << " scans/s, " << i.blocks << " blocks, " << i.holes << " holes, " << i.missed
            << " missed, " << i.dropped << " dropped, " << markers << " markers" << openNote(i, written) << "\n";
    }
    // What each channel measures, as stated in the file.
    for (int c = 0; c < i.channels; ++c) {
        const ChannelUnit u = channelUnit(i.units, c);
        if (o.has("--json"))
            out << (c ? ", " : "") << "{\"channel\": " << c + 1 << ", \"name\": " << jsonText(channelName(i.units, c))
                << ", \"unit\": " << jsonText(u.unit) << ", \"scale\": " << num(u.scale)
                << ", \"offset\": " << num(u.offset) << "}";
        else
            out << "  channel " << c + 1 << ": " << validUtf8(channelName(i.units, c)) << ", " << validUtf8(u.unit)
                << (u.volts()
                        ? std::string()
                        : " = volts * " + num(u.scale) + (u.offset < 0 ? " - " : " + ") + num(std::fabs(u.offset)))
                << "\n";
    }
    if (o.has("--json"))
        out << "]}";
}

int info(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, {"--run", "--series"}, withCommonFlags({}));
    auto reader = openReader(o, err);
    const int only = int(o.integer("--run", 0, 1, INT32_MAX));
    std::vector<RecordedRunInfo> runs;
    for (const RecordedRunInfo &i : reader->runs())
        if (only == 0 || i.number == only)
            runs.push_back(i);
    if (only != 0 && runs.empty())
        throw UsageError("--run: '" + o.file() + "' has no run " + std::to_string(only));
    if (o.has("--json"))
        out << "{\"format\": " << reader->formatVersion() << ", \"runs\": [";
    else
        out << validUtf8(o.file()) << ": recording format " << reader->formatVersion() << ", " << runs.size()
            << " run(s)\n";
    for (std::size_t k = 0; k < runs.size(); ++k) {
        std::string why;
        const auto run = runs[k].blocks > 0 ? reader->openRun(runs[k].number, why) : nullptr;
        printRunInfo(runs[k], run ? run->markers().size() : 0, o, writtenPath(*reader, o), k == 0, out);
    }
    if (o.has("--json"))
        out << "]}\n";
    return 0;
}

int stats(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({}), withCommonFlags({}));
    auto reader = openReader(o, err);
    auto run = openRun(*reader, o);
    const auto [from, to] = scanRange(o, run->info());
    const auto st = run->stats(from, to);
    if (std::string e = run->readError(); !e.empty())
        throw ReadError(e);
    query::Status s;
    s.partial = run->info().open;
    check(s, err);
    const int64_t scans = st.empty() ? 0 : st[0].count;
    const bool json = o.has("--json");
    const double rate = run->scansPerSecond();
    if (json)
        out << "{\"run\": " << run->info().number << ", \"from\": " << num(seconds(*run, from))
            << ", \"to\": " << num(seconds(*run, to)) << ", \"scans\": " << scans << ", \"channels\": [";
    else
        out << "run " << run->info().number << ", " << secondsText(rate, seconds(*run, from)) << " s to "
            << secondsText(rate, seconds(*run, to)) << " s, " << scans
            << " scans\nchannel\tmin\tmax\tmean\trms\tunit\tname\n";
    const RecordedRunInfo &info = run->info();
    for (std::size_t c = 0; c < st.size(); ++c) {
        const RangeStats &r = st[c];
        const Calibration cal = info.channelCalibration(int(c));
        // No scans (a range within a hole): no extremes and no mean.
        const double none = std::nan("");
        const ValueSpan span = valueSpan(cal, r.min, r.max);
        const double v[4] = {r.count ? span.low : none, r.count ? span.high : none,
                             r.count ? cal.volts(r.mean) : none, r.count ? cal.rmsVolts(r.mean, r.rms) : none};
        const std::string unit = channelUnit(info.units, int(c)).unit, name = channelName(info.units, int(c));
        if (json) {
            out << (c ? ", " : "") << "{\"min\": " << num(v[0]) << ", \"max\": " << num(v[1])
                << ", \"mean\": " << num(v[2]) << ", \"rms\": " << num(v[3]) << ", \"unit\": " << jsonText(unit)
                << ", \"name\": " << jsonText(name) << "}";
        } else {
            out << c + 1;
            for (double x : v)
                out << '\t' << fixed(x, valueDecimals(cal));
            out << '\t' << validUtf8(unit) << '\t' << validUtf8(name) << '\n';
        }
    }
    if (json)
        out << "]}\n";
    return 0;
}

int exportCsv(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--channels", "-o", "--output"}),
                    {"--utc", "--overwrite", "--bom", "--no-bom", "--window-names", "--with-header-comments"});
    if (o.has("-o") == o.has("--output"))
        throw UsageError(o.has("-o") ? "-o and --output name the same thing: give one" : "-o OUT.csv is needed");
    if (o.has("--bom") && o.has("--no-bom"))
        throw UsageError("--bom and --no-bom contradict each other: give one");
    CsvStyle style;
    style.bom = o.has("--bom");
    style.windowNames = o.has("--window-names");
    style.comments = o.has("--with-header-comments");
    style.utc = o.utc();
    const std::string target = *o.value(o.has("-o") ? "-o" : "--output");
    auto reader = openReader(o, err);
    auto run = openRun(*reader, o);
    const auto [from, to] = scanRange(o, run->info());
    std::vector<int> channels;
    if (o.has("--channels")) {
        try {
            channels = parseChannels(*o.value("--channels"), run->channels());
        } catch (const UsageError &e) {
            throw UsageError(std::string("--channels: ") + e.what());
        }
    }
    query::Status s;
    s.partial = run->info().open;
    check(s, err);
    const ExportResult r = exportCsvFile(*run, from, to, {target, o.file(), o.has("--overwrite")}, {}, channels, style);
    if (r.outcome == ExportResult::Outcome::Refused)
        throw UsageError(r.error);
    if (r.outcome != ExportResult::Outcome::Written)
        throw ReadError(r.error.empty() ? "export stopped" : r.error);
    out << r.rows << " rows written to " << validUtf8(target) << '\n';
    return 0;
}

int dispatch(const std::string &c, const std::vector<std::string> &rest, std::ostream &out, std::ostream &err)
{
    if (c == "info")
        return info(rest, out, err);
    if (c == "stats")
        return stats(rest, out, err);
    if (c == "search")
        return search(rest, out, err);
    if (c == "peaks")
        return peaks(rest, out, err);
    if (c == "changes")
        return changes(rest, out, err);
    if (c == "losses")
        return losses(rest, out, err);
    if (c == "export")
        return exportCsv(rest, out, err);
    if (c == "spectrum")
        return spectrum(rest, out, err);
    if (c == "events")
        return eventsCommand(rest, out, err);
    throw UsageError("unknown command '" + c + "' (see adcard-review --help)");
}

} // namespace

int reviewCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.empty()) {
        err << kHelp;
        return 2;
    }
    // --help and --version anywhere before a "--" that ends the options.
    for (const std::string &a : args) {
        if (a == "--")
            break;
        if (a == "--help" || a == "-h" || (a == "help" && &a == &args[0])) {
            out << kHelp;
            return 0;
        }
        if (a == "--version") {
            out << "adcard-review " << ADCARD_VERSION << '\n';
            return 0;
        }
    }
    try {
        return dispatch(args[0], std::vector<std::string>(args.begin() + 1, args.end()), out, err);
    } catch (const UsageError &e) {
        err << "adcard-review: " << e.what() << '\n';
        return 2;
    } catch (const std::exception &e) {
        // ReadError and whatever the reader or the system threw.
        err << "adcard-review: " << e.what() << '\n';
        return 1;
    }
}

} // namespace adcard
