// The commands that ask the query engine: the same questions as the review
// window's search pane, the same answers.
#include "review_cli/query_commands.h"

#include "fft/fftw_transform.h"

#include "data/channel_units.h"
#include "query/spectrum.h"
#include "review_cli/command_support.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace adcard::cli {

namespace {

// A code's value, in JSON in full and in text with the digits its step
// justifies.
Event::Field valueField(const Calibration &cal, double code)
{
    return {"value", num(cal.volts(code)), fixed(cal.volts(code), valueDecimals(cal))};
}

Event::Field plainField(const std::string &name, const std::string &value)
{
    return {name, value, value};
}

// Decimals that show a frequency to its bin.
int hzDecimals(double resolutionHz)
{
    return resolutionHz > 0 ? std::max(0, int(std::ceil(-std::log10(resolutionHz)))) : 0;
}

} // namespace

int search(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--channel", "--above", "--below", "--hysteresis", "--limit"}),
                    withCommonFlags({}));
    auto reader = openReader(o, err);
    auto run = openRun(*reader, o);
    if (o.has("--above") && o.has("--below"))
        throw UsageError("--above and --below exclude each other: search one level at a time");
    if (!o.has("--above") && !o.has("--below"))
        throw UsageError("one of --above V and --below V is needed");
    const std::string levelOption = o.has("--above") ? "--above" : "--below";
    query::LevelQuery q;
    q.channel = channelOption(o, *run, true);
    q.edge = o.has("--above") ? query::Edge::Rising : query::Edge::Falling;
    q.level = o.number(levelOption, 0);
    q.hysteresis = o.number("--hysteresis", 0);
    q.limit = std::size_t(o.integer("--limit", 1000, 0, 100000000));
    const Calibration cal = run->info().channelCalibration(q.channel);
    const std::string unit = channelUnit(run->info().units, q.channel).unit;
    const auto [lo, hi] = valueSpan(cal, 0, 4095);
    const int decimals = valueDecimals(cal);
    if (q.level < lo || q.level > hi)
        throw UsageError(levelOption + ": " + num(q.level) + " " + unit + " is beyond the card's range (" +
                         fixed(lo, decimals) + " to " + fixed(hi, decimals) + " " + unit + ")");
    if (q.hysteresis < 0)
        throw UsageError("--hysteresis must not be negative");
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::LevelResult r = query::findCrossings(*run, q);
    check(r, err);
    std::vector<Event> events;
    for (const query::Crossing &c : r.crossings)
        events.push_back({c.scan, {plainField("channel", std::to_string(q.channel + 1)), valueField(cal, c.code)}});
    printEvents(*run, r.total, events, o.has("--json"), out);
    return 0;
}

int peaks(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--channel", "--count", "--apart", "--prominence"}),
                    withCommonFlags({"--lowest"}));
    auto reader = openReader(o, err);
    auto run = openRun(*reader, o);
    query::PeakQuery q;
    q.channel = channelOption(o, *run, true);
    q.highest = !o.has("--lowest");
    q.count = std::size_t(o.integer("--count", 10, 1, 1000000));
    const double apart = o.number("--apart", 0);
    if (apart < 0)
        throw UsageError("--apart must not be negative");
    const double rate = run->scansPerSecond() > 0 ? run->scansPerSecond() : 1.0;
    secondsToScans(apart, rate, "--apart"); // refuses what does not fit
    q.apart = int64_t(std::ceil(apart * rate - 1e-9));
    q.prominence = o.number("--prominence", -1);
    if (o.has("--prominence") && q.prominence < 0)
        throw UsageError("--prominence must not be negative");
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::PeakResult r = query::findPeaks(*run, q);
    check(r, err);
    const Calibration cal = run->info().channelCalibration(q.channel);
    std::vector<Event> events;
    for (const query::Peak &p : r.peaks)
        events.push_back({p.scan, {plainField("channel", std::to_string(q.channel + 1)), valueField(cal, p.code)}});
    printEvents(*run, int64_t(events.size()), events, o.has("--json"), out);
    return 0;
}

int changes(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--port", "--bit", "--pattern", "--mask", "--limit"}), withCommonFlags({}));
    auto reader = openReader(o, err);
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
        events.push_back({e.scan, {plainField("port", std::to_string(q.port)),
                                   plainField("before", std::to_string(e.before)),
                                   plainField("value", std::to_string(e.after))}});
    printEvents(*run, r.total, events, o.has("--json"), out);
    return 0;
}

int losses(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--limit"}), withCommonFlags({}));
    auto reader = openReader(o, err);
    auto run = openRun(*reader, o);
    const auto [from, to] = scanRange(o, run->info());
    const query::LossResult r =
        query::findLosses(*run, from, to, std::size_t(o.integer("--limit", 1000, 0, 100000000)));
    check(r, err);
    std::vector<Event> events;
    for (const ScanGap &g : r.holes) {
        const double s = seconds(*run, g.end - g.first);
        events.push_back({g.first, {plainField("hole", "true"),
                                    {"duration", num(s), secondsText(run->scansPerSecond(), s)}}});
    }
    for (const RecordedMarker &m : r.markers)
        events.push_back({m.scan, {{"marker", jsonText(m.text), validUtf8(m.text)}}});
    std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) { return a.scan < b.scan; });
    printEvents(*run, r.totalHoles + int64_t(r.markers.size()), events, o.has("--json"), out);
    return 0;
}

namespace {

void printSpectrumChannel(const RecordedRun &run, const query::SpectrumResult &r, const query::ChannelSpectrum &s,
                          bool json, bool full, std::ostream &out)
{
    const std::string unit = channelUnit(run.info().units, s.channel).unit;
    const Calibration cal = run.info().channelCalibration(s.channel);
    // Amplitudes in the channel's unit, which "unit" names; decibels
    // relative to one of it (dBV for volts).
    if (json) {
        out << "{\"channel\": " << s.channel + 1 << ", \"unit\": " << jsonText(unit) << ", \"dc\": " << num(s.dc)
            << ", \"peak_hz\": " << num(s.peakHz) << ", \"peak\": " << num(s.peak)
            << ", \"peak_db\": " << num(query::dbv(s.peak));
        if (full) {
            out << ", \"amplitude\": [";
            for (std::size_t i = 0; i < s.amplitude.size(); ++i)
                out << (i ? ", " : "") << num(s.amplitude[i]);
            out << "]";
        }
        out << "}";
        return;
    }
    const int decimals = valueDecimals(cal);
    const int hz = hzDecimals(r.resolutionHz);
    const std::string db = unit == "V" ? " dBV" : " dB re 1 " + validUtf8(unit);
    out << "channel " << s.channel + 1 << ": DC " << fixed(s.dc, decimals) << " " << validUtf8(unit) << ", peak "
        << fixed(s.peakHz, hz) << " Hz, " << fixed(s.peak, decimals) << " " << validUtf8(unit) << " ("
        << fixed(query::dbv(s.peak), 1) << db << ")\n";
    if (full)
        for (std::size_t i = 0; i < s.amplitude.size(); ++i)
            out << fixed(double(i) * r.resolutionHz, hz) << '\t' << fixed(s.amplitude[i], decimals) << '\n';
}

} // namespace

int spectrum(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--channel"}), withCommonFlags({"--full"}));
    auto reader = openReader(o, err);
    auto run = openRun(*reader, o);
    if (!o.has("--from") || !o.has("--to"))
        throw UsageError("--from and --to are needed");
    query::SpectrumQuery q;
    q.transform = query::makeFftwTransform;
    if (const int c = channelOption(o, *run, false); c >= 0)
        q.channels = {c};
    std::tie(q.first, q.end) = scanRange(o, run->info());
    const query::SpectrumResult r = query::spectrum(*run, q);
    if (r.outcome == query::Outcome::Failed && r.scans < 2)
        throw UsageError("--from, --to: a spectrum needs at least two scans without a hole, and the range has " +
                         std::to_string(r.scans));
    check(r, err);
    if (r.hole)
        err << "note: the range holds a hole; the longest stretch without one was used\n";
    if (r.shortened)
        err << "note: the range is longer than " << query::kMaxSpectrumScans << " scans; its start was used\n";
    const bool json = o.has("--json");
    const double rate = run->scansPerSecond();
    if (json)
        out << "{\"from\": " << num(seconds(*run, r.first)) << ", \"to\": " << num(seconds(*run, r.end))
            << ", \"scans\": " << r.scans << ", \"hole\": " << (r.hole ? "true" : "false")
            << ", \"resolution_hz\": " << num(r.resolutionHz) << ", \"channels\": [";
    else
        out << r.scans << " scans from " << secondsText(rate, seconds(*run, r.first)) << " s to "
            << secondsText(rate, seconds(*run, r.end)) << " s, Hann window, resolution "
            << fixed(r.resolutionHz, hzDecimals(r.resolutionHz) + 2)
            << " Hz\n";
    for (std::size_t k = 0; k < r.channels.size(); ++k) {
        if (json && k)
            out << ", ";
        printSpectrumChannel(*run, r, r.channels[k], json, o.has("--full"), out);
    }
    if (json)
        out << "]}\n";
    return 0;
}

} // namespace adcard::cli
