// Each subcommand opens the recording with the same reader as the window,
// asks the same query engine, and prints text or one JSON object.
#include "review_cli/review_command.h"

#include "query/query.h"
#include "query/spectrum.h"
#include "recording/recording_reader_impl.h"
#include "review/csv_export.h"
#include "review_cli/events_command.h"
#include "review_cli/options.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>

namespace adcard {

namespace {

using namespace cli;

constexpr const char *kHelp = R"(usage: adcard-review COMMAND FILE [options]

Answers from a recording, without a display. Times (--from, --to) are seconds
from the run's start or ISO 8601 (2026-12-07T12:00:05.5+01:00; UTC without an
offset). Channels count from 1. --run N picks a run (default: the first with
blocks); --json prints one JSON object.

  info FILE [--json]                the format, and each run's start, duration,
                                    blocks, holes, missed, dropped, markers
  stats FILE [--from T] [--to T]    per channel min, max, mean, RMS, scans
  search FILE --channel C (--above V | --below V) [--hysteresis V] [--limit N]
                                    where the channel goes above/below V

Values are in each channel's unit, as the recording names it (volts unless
the operator gave the channel another: info lists them); levels too.
  peaks FILE --channel C [--lowest] [--count N] [--apart SECONDS]
                                    the N highest (lowest) peaks, apart
  changes FILE [--port 0|1] [--bit B | --pattern X [--mask M]] [--limit N]
                                    changes of a digital input bit or port, or
                                    where a port comes to equal a pattern
  losses FILE [--limit N]           the holes (missed/dropped blocks), markers
  export FILE [--channels 1,3] -o OUT.csv
                                    every scan of the range as the window's CSV
  spectrum FILE --from T --to T [--channel C] [--full]
                                    amplitude spectrum (Hann window), peak
  events FILE [--run N] [--limit N] what the armed rules did: each event's
                                    time, scan, run, rule, fired or cleared,
                                    value (and what went wrong, if anything)

Exit status: 0; 2 for bad arguments or a file that is not a recording; 1 for
a read error.

Examples:
  adcard-review info day.h5
  adcard-review stats day.h5 --from 3600 --to 7200 --json
  adcard-review search day.h5 --channel 2 --above 4.5 --limit 20
  adcard-review peaks day.h5 --channel 1 --count 10 --apart 60
  adcard-review changes day.h5 --port 0 --bit 3
  adcard-review export day.h5 --from 2026-12-07T12:00:00+01:00 --to 60 --channels 1,3 -o minute.csv
  adcard-review spectrum day.h5 --from 10 --to 110 --channel 1 --json
)";

const std::vector<std::string> kCommon = {"--run", "--from", "--to"};

std::vector<std::string> with(std::vector<std::string> more)
{
    more.insert(more.end(), kCommon.begin(), kCommon.end());
    return more;
}

std::unique_ptr<RecordingReader> openReader(const std::string &path)
{
    std::string why;
    std::unique_ptr<RecordingReader> r(openRecording(path.c_str(), &why));
    if (r)
        return r;
    // A file that is not there or not a recording is a wrong argument; one
    // HDF5 cannot read, or the system refuses, is a read error.
    const bool notOne = why.rfind("no ", 0) == 0 || why.rfind("not ", 0) == 0 || why.rfind("is a ", 0) == 0 ||
                        why.rfind("recording format", 0) == 0 || why.rfind("the block shape", 0) == 0;
    if (notOne)
        throw UsageError("'" + path + "': " + why);
    throw ReadError("'" + path + "': " + why);
}

std::unique_ptr<RecordedRun> openRun(RecordingReader &reader, const Options &o)
{
    std::string why;
    int number = 0;
    if (o.has("--run")) {
        number = int(o.integer("--run", 0, 1, INT32_MAX));
    } else {
        for (const RecordedRunInfo &i : reader.runs())
            if (i.blocks > 0) {
                number = i.number;
                break;
            }
        if (number == 0)
            throw UsageError("'" + o.file() + "': no run with blocks");
    }
    bool exists = false;
    for (const RecordedRunInfo &i : reader.runs())
        exists = exists || i.number == number;
    if (!exists)
        throw UsageError("'" + o.file() + "': no run " + std::to_string(number));
    auto run = reader.openRun(number, why);
    if (!run)
        throw ReadError("'" + o.file() + "': " + why);
    return run;
}

double seconds(const RecordedRun &run, int64_t scan)
{
    return run.scansPerSecond() > 0 ? double(scan) / run.scansPerSecond() : double(scan);
}

// A time for a reader: as many decimals as a scan needs.
std::string timeText(const RecordedRun &run, int64_t scan)
{
    const double rate = run.scansPerSecond();
    const int decimals = rate > 1 ? int(std::ceil(std::log10(rate))) : 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f s", decimals, seconds(run, scan));
    return buf;
}

// A JSON string: quoted, escaped, control characters as spaces.
std::string jsonText(const std::string &s)
{
    std::string text = "\"";
    for (char ch : s)
        text += ch == '"' || ch == '\\' ? std::string("\\") + ch : (unsigned char)ch < 0x20 ? std::string(" ") : std::string(1, ch);
    return text + "\"";
}

// Says on standard error what a result leaves out; throws for a failure.
void check(const query::Status &s, std::ostream &err)
{
    if (s.outcome == query::Outcome::Failed)
        throw ReadError(s.error);
    if (s.partial)
        err << "note: the run is still being recorded; answered up to what was written so far\n";
}

int info(const std::vector<std::string> &args, std::ostream &out)
{
    const Options o(args, {}, {"--json"});
    auto reader = openReader(o.file());
    const bool json = o.has("--json");
    const auto runs = reader->runs();
    if (json)
        out << "{\"format\": " << reader->formatVersion() << ", \"runs\": [";
    else
        out << o.file() << ": recording format " << reader->formatVersion() << ", " << runs.size() << " run(s)\n";
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const RecordedRunInfo &i = runs[k];
        std::string why;
        const auto run = i.blocks > 0 ? reader->openRun(i.number, why) : nullptr;
        const std::size_t markers = run ? run->markers().size() : 0;
        const double duration = i.scansPerSecond > 0 ? double(i.scans) / i.scansPerSecond : 0;
        if (json)
            out << (k ? ", " : "") << "{\"run\": " << i.number << ", \"start\": \"" << i.startTime
                << "\", \"duration\": " << num(duration) << ", \"channels\": " << i.channels
                << ", \"rate\": " << num(i.scansPerSecond) << ", \"blocks\": " << i.blocks << ", \"holes\": " << i.holes
                << ", \"missed\": " << i.missed << ", \"dropped\": " << i.dropped << ", \"markers\": " << markers
                << ", \"open\": " << (i.open ? "true" : "false") << ", \"channel_units\": [";
        else
            out << "run " << i.number << ": start " << i.startTime << ", " << num(duration) << " s, " << i.channels
                << " channels at " << num(i.scansPerSecond) << " scans/s, " << i.blocks << " blocks, " << i.holes
                << " holes, " << i.missed << " missed, " << i.dropped << " dropped, " << markers << " markers"
                << (i.open ? " (still being recorded)" : "") << "\n";
        // What each channel measures, as stated in the file.
        for (int c = 0; c < i.channels; ++c) {
            const ChannelUnit u = channelUnit(i.units, c);
            if (json)
                out << (c ? ", " : "") << "{\"channel\": " << c + 1 << ", \"name\": " << jsonText(channelName(i.units, c))
                    << ", \"unit\": " << jsonText(u.unit) << ", \"scale\": " << num(u.scale)
                    << ", \"offset\": " << num(u.offset) << "}";
            else
                out << "  channel " << c + 1 << ": " << channelName(i.units, c) << ", " << u.unit
                    << (u.volts()
                            ? std::string()
                            : " = volts * " + num(u.scale) + (u.offset < 0 ? " - " : " + ") + num(std::fabs(u.offset)))
                    << "\n";
        }
        if (json)
            out << "]}";
    }
    if (json)
        out << "]}\n";
    return 0;
}

int stats(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({}), {"--json"});
    auto reader = openReader(o.file());
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
    if (json)
        out << "{\"run\": " << run->info().number << ", \"from\": " << num(seconds(*run, from))
            << ", \"to\": " << num(seconds(*run, to)) << ", \"scans\": " << scans << ", \"channels\": [";
    else
        out << "run " << run->info().number << ", " << num(seconds(*run, from)) << " s to "
            << num(seconds(*run, to)) << " s, " << scans << " scans\nchannel\tmin\tmax\tmean\trms\tunit\tname\n";
    const RecordedRunInfo &info = run->info();
    for (std::size_t c = 0; c < st.size(); ++c) {
        const RangeStats &r = st[c];
        const Calibration cal = info.channelCalibration(int(c));
        const double rms = cal.rmsVolts(r.mean, r.rms);
        const std::string v[4] = {num(cal.volts(r.min)), num(cal.volts(r.max)), num(cal.volts(r.mean)), num(rms)};
        const std::string unit = channelUnit(info.units, int(c)).unit, name = channelName(info.units, int(c));
        if (json)
            out << (c ? ", " : "") << "{\"min\": " << v[0] << ", \"max\": " << v[1] << ", \"mean\": " << v[2]
                << ", \"rms\": " << v[3] << ", \"unit\": " << jsonText(unit) << ", \"name\": " << jsonText(name)
                << "}";
        else
            out << c + 1 << '\t' << v[0] << '\t' << v[1] << '\t' << v[2] << '\t' << v[3] << '\t' << unit << '\t'
                << name << '\n';
    }
    if (json)
        out << "]}\n";
    return 0;
}

int channelOption(const Options &o, const RecordedRun &run, bool required)
{
    if (!o.has("--channel")) {
        if (required)
            throw UsageError("--channel is needed");
        return -1;
    }
    return parseChannels(*o.value("--channel"), run.channels()).front();
}

// Events as {"count": n, "events": [...]} or one line each.
struct Event {
    int64_t scan;
    std::vector<std::pair<std::string, std::string>> fields; // after time and scan
};

void printEvents(const RecordedRun &run, int64_t count, const std::vector<Event> &events, bool json, std::ostream &out)
{
    if (json) {
        out << "{\"count\": " << count << ", \"events\": [";
        for (std::size_t k = 0; k < events.size(); ++k) {
            out << (k ? ", " : "") << "{\"time\": " << num(seconds(run, events[k].scan)) << ", \"scan\": " << events[k].scan;
            for (const auto &[name, value] : events[k].fields)
                out << ", \"" << name << "\": " << value;
            out << "}";
        }
        out << "]}\n";
        return;
    }
    for (const Event &e : events) {
        out << timeText(run, e.scan) << "\tscan " << e.scan;
        for (const auto &[name, value] : e.fields)
            out << '\t' << name << ' ' << value;
        out << '\n';
    }
    out << count << (count > int64_t(events.size()) ? " found, " + std::to_string(events.size()) + " shown" : " found")
        << '\n';
}

int search(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({"--channel", "--above", "--below", "--hysteresis", "--limit"}), {"--json"});
    auto reader = openReader(o.file());
    auto run = openRun(*reader, o);
    if (o.has("--above") == o.has("--below"))
        throw UsageError("one of --above V and --below V is needed");
    query::LevelQuery q;
    q.channel = channelOption(o, *run, true);
    q.edge = o.has("--above") ? query::Edge::Rising : query::Edge::Falling;
    q.level = o.number(o.has("--above") ? "--above" : "--below", 0);
    q.hysteresis = o.number("--hysteresis", 0);
    q.limit = std::size_t(o.integer("--limit", 1000, 0, 100000000));
    const Calibration cal = run->info().channelCalibration(q.channel);
    const std::string unit = channelUnit(run->info().units, q.channel).unit;
    const double lo = std::min(cal.volts(0), cal.volts(4095)), hi = std::max(cal.volts(0), cal.volts(4095));
    if (q.level < lo || q.level > hi)
        throw UsageError("level " + num(q.level) + " " + unit + " is beyond the card's range (" + num(lo) + " to " +
                         num(hi) + " " + unit + ")");
    if (q.hysteresis < 0)
        throw UsageError("--hysteresis must not be negative");
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::LevelResult r = query::findCrossings(*run, q);
    check(r, err);
    std::vector<Event> events;
    for (const query::Crossing &c : r.crossings)
        events.push_back({c.scan, {{"channel", std::to_string(q.channel + 1)}, {"value", num(cal.volts(c.code))}}});
    printEvents(*run, r.total, events, o.has("--json"), out);
    return 0;
}

int peaks(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({"--channel", "--count", "--apart"}), {"--json", "--lowest"});
    auto reader = openReader(o.file());
    auto run = openRun(*reader, o);
    query::PeakQuery q;
    q.channel = channelOption(o, *run, true);
    q.highest = !o.has("--lowest");
    q.count = std::size_t(o.integer("--count", 10, 1, 1000000));
    const double apart = o.number("--apart", 0);
    if (apart < 0)
        throw UsageError("--apart must not be negative");
    q.apart = int64_t(std::ceil(apart * (run->scansPerSecond() > 0 ? run->scansPerSecond() : 1.0) - 1e-9));
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::PeakResult r = query::findPeaks(*run, q);
    check(r, err);
    const Calibration cal = run->info().channelCalibration(q.channel);
    std::vector<Event> events;
    for (const query::Peak &p : r.peaks)
        events.push_back({p.scan, {{"channel", std::to_string(q.channel + 1)}, {"value", num(cal.volts(p.code))}}});
    printEvents(*run, int64_t(events.size()), events, o.has("--json"), out);
    return 0;
}

int changes(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({"--port", "--bit", "--pattern", "--mask", "--limit"}), {"--json"});
    auto reader = openReader(o.file());
    auto run = openRun(*reader, o);
    query::DigitalQuery q;
    q.port = int(o.integer("--port", 0, 0, 1));
    q.bit = int(o.integer("--bit", -1, 0, 15));
    q.match = o.has("--pattern");
    if (q.match && q.bit >= 0)
        throw UsageError("--bit and --pattern exclude each other");
    q.pattern = int(o.integer("--pattern", 0, 0, 0xffff));
    q.mask = int(o.integer("--mask", 0xffff, 0, 0xffff));
    q.limit = std::size_t(o.integer("--limit", 1000, 0, 100000000));
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::DigitalResult r = query::findChanges(*run, q);
    check(r, err);
    std::vector<Event> events;
    for (const query::DigitalEvent &e : r.events)
        events.push_back({e.scan, {{"port", std::to_string(q.port)}, {"before", std::to_string(e.before)},
                                   {"value", std::to_string(e.after)}}});
    printEvents(*run, r.total, events, o.has("--json"), out);
    return 0;
}

int losses(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({"--limit"}), {"--json"});
    auto reader = openReader(o.file());
    auto run = openRun(*reader, o);
    const auto [from, to] = scanRange(o, run->info());
    const query::LossResult r = query::findLosses(*run, from, to, std::size_t(o.integer("--limit", 1000, 0, 100000000)));
    check(r, err);
    std::vector<Event> events;
    for (const ScanGap &g : r.holes)
        events.push_back({g.first, {{"hole", "true"}, {"duration", num(seconds(*run, g.end - g.first))}}});
    for (const RecordedMarker &m : r.markers)
        events.push_back({m.scan, {{"marker", jsonText(m.text)}}});
    std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) { return a.scan < b.scan; });
    printEvents(*run, r.totalHoles + int64_t(r.markers.size()), events, o.has("--json"), out);
    return 0;
}

int exportCsv(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({"--channels", "-o"}), {});
    if (!o.has("-o"))
        throw UsageError("-o OUT.csv is needed");
    auto reader = openReader(o.file());
    auto run = openRun(*reader, o);
    const auto [from, to] = scanRange(o, run->info());
    const std::vector<int> channels = o.has("--channels") ? parseChannels(*o.value("--channels"), run->channels())
                                                          : std::vector<int>{};
    query::Status s;
    s.partial = run->info().open;
    check(s, err);
    const ExportResult r = exportCsvFile(*run, from, to, *o.value("-o"), {}, channels);
    if (r.outcome != ExportResult::Outcome::Written)
        throw ReadError(r.error.empty() ? "export stopped" : r.error);
    out << r.rows << " rows written to " << *o.value("-o") << '\n';
    return 0;
}

int spectrum(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, with({"--channel"}), {"--json", "--full"});
    auto reader = openReader(o.file());
    auto run = openRun(*reader, o);
    if (!o.has("--from") || !o.has("--to"))
        throw UsageError("--from and --to are needed");
    query::SpectrumQuery q;
    if (const int c = channelOption(o, *run, false); c >= 0)
        q.channels = {c};
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::SpectrumResult r = query::spectrum(*run, q);
    check(r, err);
    if (r.hole)
        err << "note: the range holds a hole; the longest stretch without one was used\n";
    if (r.shortened)
        err << "note: the range is longer than " << query::kMaxSpectrumScans << " scans; its start was used\n";
    const bool json = o.has("--json");
    if (json)
        out << "{\"from\": " << num(seconds(*run, r.first)) << ", \"to\": " << num(seconds(*run, r.end))
            << ", \"scans\": " << r.scans << ", \"hole\": " << (r.hole ? "true" : "false")
            << ", \"resolution_hz\": " << num(r.resolutionHz) << ", \"channels\": [";
    else
        out << r.scans << " scans from " << num(seconds(*run, r.first)) << " s to " << num(seconds(*run, r.end))
            << " s, Hann window, resolution " << num(r.resolutionHz) << " Hz\n";
    for (std::size_t k = 0; k < r.channels.size(); ++k) {
        const query::ChannelSpectrum &s = r.channels[k];
        const std::string unit = channelUnit(run->info().units, s.channel).unit;
        // Amplitudes in the channel's unit, which "unit" names; decibels
        // against one of it (dBV for volts).
        if (json) {
            out << (k ? ", " : "") << "{\"channel\": " << s.channel + 1 << ", \"unit\": " << jsonText(unit)
                << ", \"peak_hz\": " << num(s.peakHz) << ", \"peak\": " << num(s.peak)
                << ", \"peak_db\": " << num(query::dbv(s.peak));
            if (o.has("--full")) {
                out << ", \"amplitude\": [";
                for (std::size_t i = 0; i < s.amplitude.size(); ++i)
                    out << (i ? ", " : "") << num(s.amplitude[i]);
                out << "]";
            }
            out << "}";
        } else {
            out << "channel " << s.channel + 1 << ": peak " << num(s.peakHz) << " Hz, " << num(s.peak) << " " << unit
                << " (" << num(query::dbv(s.peak)) << (unit == "V" ? " dBV" : " dB " + unit) << ")\n";
            if (o.has("--full"))
                for (std::size_t i = 0; i < s.amplitude.size(); ++i)
                    out << num(double(i) * r.resolutionHz) << '\t' << num(s.amplitude[i]) << '\n';
        }
    }
    if (json)
        out << "]}\n";
    return 0;
}

} // namespace

int reviewCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? err : out) << kHelp;
        return args.empty() ? 2 : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
            out << kHelp;
            return 0;
        }
        const std::string &c = args[0];
        if (c == "info")
            return info(rest, out);
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
    } catch (const UsageError &e) {
        err << "adcard-review: " << e.what() << '\n';
        return 2;
    } catch (const ReadError &e) {
        err << "adcard-review: " << e.what() << '\n';
        return 1;
    } catch (const std::exception &e) {
        err << "adcard-review: " << e.what() << '\n';
        return 1;
    }
}

} // namespace adcard
