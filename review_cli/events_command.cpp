#include "review_cli/events_command.h"

#include "recording/recording_reader_impl.h"
#include "platform/native_file.h"
#include "review_cli/command_support.h"
#include "rules/replay.h"
#include "rules/rules.h"
#include "data/channel_units.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <variant>

namespace adcard::cli {

namespace {

// Events listed at most, unless --limit says otherwise.
constexpr int64_t kDefaultLimit = 100000;
// A rules file is a few kilobytes; anything far larger is not one.
constexpr uint64_t kLargestRulesFile = 1 << 20;

// One event a line: control characters in a name or note become spaces.
std::string oneLine(std::string text)
{
    for (char &ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = ' ';
    return text;
}

// Through the program's own file layer, which takes the UTF-8 path as typed
// (a stream would read it in Windows' ANSI code page).
std::string readRulesFile(const std::string &path)
{
    int err = 0;
    const nativefile::Handle h = nativefile::openRead(path, err);
    if (h == nativefile::kNone)
        throw UsageError("--rules: cannot read '" + path + "': " + std::strerror(err));
    uint64_t bytes = 0;
    std::string text;
    std::string problem;
    if (!nativefile::size(h, bytes))
        problem = "cannot read '" + path + "'";
    else if (bytes > kLargestRulesFile)
        problem = "'" + path + "' is larger than 1 MiB";
    else if (text.resize(std::size_t(bytes)); !nativefile::readAt(h, text.data(), text.size(), 0))
        problem = "cannot read '" + path + "'";
    (void)nativefile::close(h);
    if (!problem.empty())
        throw UsageError("--rules: " + problem);
    return text;
}

// What the rules of `text` would have done over each run (or run `only`),
// through the same evaluator as the panel's: a dry run.
std::vector<RecordedEvent> dryRun(RecordingReader &reader, const std::string &text, int only)
{
    std::vector<RecordedEvent> events;
    for (const RecordedRunInfo &info : reader.runs()) {
        if (only > 0 && info.number != only)
            continue;
        // Levels are in the run's units, as they were when it was recorded.
        auto parsed = rules::parseRules(text, info.units, info.calibration);
        if (const auto *error = std::get_if<rules::RuleError>(&parsed))
            throw UsageError("--rules: " + error->message());
        const rules::RuleSet &set = std::get<rules::RuleSet>(parsed);
        std::string why;
        std::unique_ptr<RecordedRun> run = reader.openRun(info.number, why);
        if (!run)
            throw ReadError("run " + std::to_string(info.number) + ": " + why);
        const rules::ReplayResult r = rules::replay(*run, set);
        for (const rules::Event &e : r.events)
            events.push_back({info.number, e.scan, 0, set.rules[std::size_t(e.rule)].name, e.fired, e.value, {}});
        if (!r.error.empty())
            throw ReadError("run " + std::to_string(info.number) + ": " + r.error);
    }
    return events;
}

// The digits a rule's value is printed with, by rule name, from the rules the
// run recorded (or those given for a dry run): a level rule's channel's code
// step in its unit, none for an input's port value.
std::map<std::pair<int, std::string>, int> valueDigits(const RecordingReader &reader, const std::string &given)
{
    std::map<std::pair<int, std::string>, int> digits;
    // Rules armed in a run stay in force in the runs after it, until the
    // next arming (or disarming, an empty text).
    const std::vector<RecordedRules> armed = reader.rules();
    for (const RecordedRunInfo &info : reader.runs()) {
        std::string recorded;
        for (const RecordedRules &r : armed)
            if (r.run <= info.number)
                recorded = r.text;
        const std::string &text = given.empty() ? recorded : given;
        if (text.empty())
            continue;
        auto parsed = rules::parseRules(text, info.units, info.calibration);
        const auto *set = std::get_if<rules::RuleSet>(&parsed);
        if (!set)
            continue;
        for (const rules::Rule &rule : set->rules) {
            const auto *level = std::get_if<rules::LevelWhen>(&rule.when);
            digits[{info.number, rule.name}] =
                level ? valueDecimals(inUnit(info.calibration, channelUnit(info.units, level->channel - 1))) : 0;
        }
    }
    return digits;
}

} // namespace

int eventsCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const Options o(args, withCommon({"--limit", "--rules"}), withCommonFlags({}));
    const auto reader = openReader(o, err);
    const int64_t limit = o.integer("--limit", kDefaultLimit, 0, 100000000);
    const int onlyRun = int(o.integer("--run", 0, 1, INT32_MAX));
    std::map<int, double> rate;
    for (const RecordedRunInfo &i : reader->runs())
        rate[i.number] = i.scansPerSecond;
    if (onlyRun > 0 && !rate.count(onlyRun))
        throw UsageError("'" + o.file() + "': no run " + std::to_string(onlyRun));
    int64_t total = 0;
    std::vector<RecordedEvent> events;
    const std::string given = o.has("--rules") ? readRulesFile(*o.value("--rules")) : std::string();
    if (o.has("--rules")) {
        events = dryRun(*reader, given, onlyRun);
        total = int64_t(events.size());
        err << "a dry run: what these rules would have done, not what the panel did\n";
    } else {
        // The run's own events are picked from all of them: a file holds few.
        events = reader->events(onlyRun > 0 ? SIZE_MAX : std::size_t(limit), total);
        if (onlyRun > 0) {
            std::erase_if(events, [&](const RecordedEvent &e) { return e.run != onlyRun; });
            total = int64_t(events.size());
        }
    }
    if (int64_t(events.size()) > limit)
        events.resize(std::size_t(limit));
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
                << ", \"run\": " << e.run << ", \"rule\": " << jsonText(e.rule) << ", \"kind\": \""
                << (e.fired ? "fired" : "cleared") << "\", \"value\": " << num(e.value);
            if (!e.note.empty())
                out << ", \"note\": " << jsonText(e.note);
            out << "}";
        }
        out << "]}\n";
        return 0;
    }
    const auto digits = valueDigits(*reader, given);
    for (const RecordedEvent &e : events) {
        // Where the rule is not known, every digit, as in JSON.
        const auto d = digits.find({e.run, e.rule});
        const std::string value = d == digits.end() ? num(e.value) : fixed(e.value, d->second);
        out << "run " << e.run << '\t' << secondsText(rate[e.run], seconds(e)) << " s\tscan " << e.scan << '\t'
            << oneLine(e.rule) << '\t' << (e.fired ? "fired" : "cleared") << '\t' << value;
        if (!e.note.empty())
            out << '\t' << oneLine(e.note);
        out << '\n';
    }
    out << total << (total > int64_t(events.size()) ? " events, " + std::to_string(events.size()) + " shown" : " events")
        << '\n';
    return 0;
}

} // namespace adcard::cli
