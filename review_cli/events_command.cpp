#include "review_cli/events_command.h"

#include "recording/recording_reader_impl.h"
#include "review_cli/options.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>

namespace adcard::cli {

namespace {

// Events listed at most, unless --limit says otherwise.
constexpr int64_t kDefaultLimit = 100000;

std::unique_ptr<RecordingReader> openFile(const std::string &path)
{
    std::string why;
    std::unique_ptr<RecordingReader> r(openRecording(path.c_str(), &why));
    if (r)
        return r;
    // As the other commands: a file that is not there or not a recording is
    // a wrong argument, one that cannot be read a read error.
    for (const char *wrong : {"no ", "not ", "is a ", "recording format", "the block shape"})
        if (why.rfind(wrong, 0) == 0)
            throw UsageError("'" + path + "': " + why);
    throw ReadError("'" + path + "': " + why);
}

// One event a line: control characters in a name or note become spaces.
std::string oneLine(std::string text)
{
    for (char &ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = ' ';
    return text;
}

} // namespace

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", c);
                out += hex;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

int eventsCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &)
{
    const Options o(args, {"--run", "--limit"}, {"--json"});
    const auto reader = openFile(o.file());
    const int64_t limit = o.integer("--limit", kDefaultLimit, 0, 100000000);
    const int onlyRun = int(o.integer("--run", 0, 1, INT32_MAX));
    std::map<int, double> rate;
    for (const RecordedRunInfo &i : reader->runs())
        rate[i.number] = i.scansPerSecond;
    if (onlyRun > 0 && !rate.count(onlyRun))
        throw UsageError("'" + o.file() + "': no run " + std::to_string(onlyRun));
    int64_t total = 0;
    // The run's own events are picked from all of them: a file holds few.
    std::vector<RecordedEvent> events = reader->events(onlyRun > 0 ? SIZE_MAX : std::size_t(limit), total);
    if (onlyRun > 0) {
        std::erase_if(events, [&](const RecordedEvent &e) { return e.run != onlyRun; });
        total = int64_t(events.size());
        if (int64_t(events.size()) > limit)
            events.resize(std::size_t(limit));
    }
    // Seconds from the run's start, as the other commands give times.
    const auto seconds = [&](const RecordedEvent &e) {
        const double r = rate[e.run];
        return r > 0 ? double(e.scan) / r : double(e.scan);
    };
    if (o.has("--json")) {
        out << "{\"count\": " << total << ", \"events\": [";
        for (std::size_t k = 0; k < events.size(); ++k) {
            const RecordedEvent &e = events[k];
            out << (k ? ", " : "") << "{\"time\": " << num(seconds(e)) << ", \"scan\": " << e.scan
                << ", \"run\": " << e.run << ", \"rule\": " << jsonString(e.rule) << ", \"kind\": \""
                << (e.fired ? "fired" : "cleared") << "\", \"value\": " << num(e.value);
            if (!e.note.empty())
                out << ", \"note\": " << jsonString(e.note);
            out << "}";
        }
        out << "]}\n";
        return 0;
    }
    for (const RecordedEvent &e : events) {
        out << "run " << e.run << '\t' << num(seconds(e)) << " s\tscan " << e.scan << '\t' << oneLine(e.rule) << '\t'
            << (e.fired ? "fired" : "cleared") << '\t' << num(e.value);
        if (!e.note.empty())
            out << '\t' << oneLine(e.note);
        out << '\n';
    }
    out << total << (total > int64_t(events.size()) ? " events, " + std::to_string(events.size()) + " shown" : " events")
        << '\n';
    return 0;
}

} // namespace adcard::cli
