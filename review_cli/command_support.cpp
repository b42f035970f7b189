#include "review_cli/command_support.h"

#include "platform/native_file.h"
#include "recording/recording_reader_impl.h"
#include "series/series_reader.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace adcard::cli {

std::vector<std::string> withCommon(std::vector<std::string> more)
{
    for (const char *o : {"--run", "--from", "--to", "--series"})
        more.push_back(o);
    return more;
}

std::vector<std::string> withCommonFlags(std::vector<std::string> more)
{
    for (const char *o : {"--json", "--utc"})
        more.push_back(o);
    return more;
}

namespace {

std::unique_ptr<RecordingReader> openFile(const std::string &path)
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

std::unique_ptr<RecordingReader> openSeries(const Options &o, const std::string &id, std::ostream &err)
{
    const series::Opener open = [](const std::string &path, std::string &why) {
        return std::unique_ptr<RecordingReader>(openRecording(path.c_str(), &why));
    };
    std::string why;
    auto reader = series::SeriesReader::open(o.files(), open, id, why);
    const std::string named = o.files().size() == 1 ? "'" + o.file() + "'" : "the files named";
    if (!reader)
        throw UsageError(named + ": " + why);
    for (const std::string &n : reader->notes())
        err << "note: " << n << '\n';
    return reader;
}

} // namespace

std::unique_ptr<RecordingReader> openReader(const Options &o, std::ostream &err)
{
    const std::string id = o.value("--series").value_or("");
    int e = 0;
    if (o.files().size() > 1 || nativefile::kindOf(o.file(), e) == nativefile::Kind::Directory)
        return openSeries(o, id, err);
    auto reader = openFile(o.file());
    // A file of a series stands for its series, unless --series names another.
    if (const auto member = reader->series())
        return openSeries(o, id.empty() ? member->id : id, err);
    if (!id.empty())
        throw UsageError("--series: '" + o.file() + "' is not a file of a series");
    return reader;
}

std::string writtenPath(const RecordingReader &reader, const Options &o)
{
    if (const auto *s = dynamic_cast<const series::SeriesReader *>(&reader))
        return s->newestPath();
    return o.file();
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
        throw UsageError("--run: '" + o.file() + "' has no run " + std::to_string(number));
    auto run = reader.openRun(number, why);
    if (!run)
        throw ReadError("'" + o.file() + "': " + why);
    return run;
}

double seconds(const RecordedRun &run, int64_t scan)
{
    return run.scansPerSecond() > 0 ? double(scan) / run.scansPerSecond() : double(scan);
}

std::string secondsText(double rate, double seconds)
{
    const int decimals = rate > 1 ? int(std::ceil(std::log10(rate))) : 0;
    return fixed(seconds, decimals);
}

std::string timeText(const RecordedRun &run, int64_t scan)
{
    return secondsText(run.scansPerSecond(), seconds(run, scan)) + " s";
}

void check(const query::Status &s, std::ostream &err)
{
    if (s.outcome == query::Outcome::Failed)
        throw ReadError(s.error);
    if (s.partial)
        err << "note: the run is still being recorded; answered up to what was written so far\n";
}

int channelOption(const Options &o, const RecordedRun &run, bool required)
{
    if (!o.has("--channel")) {
        if (required)
            throw UsageError("--channel is needed");
        return -1;
    }
    try {
        return parseChannels(*o.value("--channel"), run.channels()).front();
    } catch (const UsageError &e) {
        throw UsageError(std::string("--channel: ") + e.what());
    }
}

void printEvents(const RecordedRun &run, int64_t count, const std::vector<Event> &events, bool json,
                 std::ostream &out)
{
    if (json) {
        out << "{\"count\": " << count << ", \"events\": [";
        for (std::size_t k = 0; k < events.size(); ++k) {
            out << (k ? ", " : "") << "{\"time\": " << num(seconds(run, events[k].scan))
                << ", \"scan\": " << events[k].scan;
            for (const Event::Field &f : events[k].fields)
                out << ", \"" << f.name << "\": " << f.json;
            out << "}";
        }
        out << "]}\n";
        return;
    }
    for (const Event &e : events) {
        out << timeText(run, e.scan) << "\tscan " << e.scan;
        for (const Event::Field &f : e.fields)
            out << '\t' << f.name << ' ' << f.text;
        out << '\n';
    }
    out << count << (count > int64_t(events.size()) ? " found, " + std::to_string(events.size()) + " shown" : " found")
        << '\n';
}

} // namespace adcard::cli
