#include "review_cli/options.h"

#include "platform/local_time.h"
#include "review_cli/output.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace adcard::cli {

namespace {

std::optional<double> parseDouble(const std::string &t)
{
    double v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool known(const std::vector<std::string> &list, const std::string &a)
{
    return std::find(list.begin(), list.end(), a) != list.end();
}

} // namespace

Options::Options(const std::vector<std::string> &args, const std::vector<std::string> &valued,
                 const std::vector<std::string> &flags)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool looksLikeOption = !optionsEnded && a.size() > 1 && a[0] == '-' && !parseDouble(a);
        if (!looksLikeOption) {
            files_.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t eq = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        // "-oOUT": a short option with its value attached.
        const bool attached = a[1] != '-' && a.size() > 2 && known(valued, a.substr(0, 2));
        const std::string name = attached ? a.substr(0, 2) : a.substr(0, eq);
        if (known(flags, name)) {
            if (eq != std::string::npos)
                throw UsageError(name + " takes no value");
            take(name, "");
        } else if (!known(valued, name)) {
            throw UsageError("unknown option " + name);
        } else if (attached) {
            take(name, a.substr(2));
        } else if (eq != std::string::npos) {
            take(name, a.substr(eq + 1));
        } else if (i + 1 >= args.size()) {
            throw UsageError(name + " needs a value");
        } else {
            take(name, args[++i]);
        }
    }
    if (files_.empty())
        throw UsageError("no recording named");
}

void Options::take(const std::string &name, const std::string &value)
{
    if (!values_.emplace(name, value).second)
        throw UsageError(name + " is given twice");
}

std::optional<std::string> Options::value(const std::string &name) const
{
    const auto it = values_.find(name);
    return it == values_.end() ? std::nullopt : std::optional(it->second);
}

double Options::number(const std::string &name, double fallback) const
{
    const auto v = value(name);
    if (!v)
        return fallback;
    const auto d = parseDouble(*v);
    if (!d)
        throw UsageError(name + ": '" + *v + "' is not a finite number");
    return *d;
}

int64_t Options::integer(const std::string &name, int64_t fallback, int64_t lo, int64_t hi) const
{
    const auto v = value(name);
    if (!v)
        return fallback;
    const bool hex = v->size() > 2 && (*v)[0] == '0' && ((*v)[1] == 'x' || (*v)[1] == 'X');
    const char *begin = v->data() + (hex ? 2 : 0), *end = v->data() + v->size();
    int64_t n = 0;
    const auto r = std::from_chars(begin, end, n, hex ? 16 : 10);
    if (r.ec != std::errc() || r.ptr != end || n < lo || n > hi)
        throw UsageError(name + ": '" + *v + "' is not a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi));
    return n;
}

int64_t secondsToScans(double seconds, double rate, const std::string &what)
{
    const double scans = seconds * (rate > 0 ? rate : 1.0);
    // 2^63 is exact as a double; anything from it on does not fit.
    if (!std::isfinite(scans) || std::fabs(scans) >= 0x1p63)
        throw UsageError(what + ": " + num(seconds) + " s is beyond any run (its scan does not fit 64 bits)");
    return std::llround(scans);
}

int64_t parseTime(const std::string &text, const RecordedRunInfo &run, const std::string &what, bool utc)
{
    int64_t scan = 0;
    if (const auto d = parseDouble(text)) {
        if (*d < 0)
            throw UsageError(what + ": '" + text + "' is before the run's start");
        scan = secondsToScans(*d, run.scansPerSecond, what);
    } else if (const auto ns = parseLocalTime(text, utc)) {
        const int64_t start = run.startTimeNs;
        // info prints the start cut to the millisecond.
        if (*ns < start && start - *ns >= 1'000'000)
            throw UsageError(what + ": '" + text + "' is before the run's start (" +
                             formatLocalTime(start, 3, utc) + ")");
        scan = *ns <= start ? 0 : secondsToScans(double(*ns - start) / 1e9, run.scansPerSecond, what);
    } else {
        throw UsageError(what + ": '" + text +
                         "' is neither seconds from the run's start nor an ISO 8601 time "
                         "(YYYY-MM-DDTHH:MM:SS[.fff], then Z, ±HH:MM, ±HHMM, ±HH or nothing for local time)");
    }
    return std::min(scan, run.scans);
}

std::pair<int64_t, int64_t> scanRange(const Options &o, const RecordedRunInfo &run)
{
    const int64_t from = o.has("--from") ? parseTime(*o.value("--from"), run, "--from", o.utc()) : 0;
    const int64_t to = o.has("--to") ? parseTime(*o.value("--to"), run, "--to", o.utc()) : run.scans;
    if (from >= run.scans && run.scans > 0)
        throw UsageError("--from is at or after the run's end (" +
                         num(run.scansPerSecond > 0 ? double(run.scans) / run.scansPerSecond : double(run.scans)) +
                         " s)");
    if (to < from)
        throw UsageError("the range is inverted: --to is before --from");
    if (to == from)
        throw UsageError("the range is empty");
    return {from, to};
}

std::vector<int> parseChannels(const std::string &text, int channels)
{
    std::vector<int> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string part = text.substr(at, comma - at);
        int c = 0;
        const auto r = std::from_chars(part.data(), part.data() + part.size(), c);
        if (part.empty() || r.ec != std::errc() || r.ptr != part.data() + part.size() || c < 1 || c > channels)
            throw UsageError("no channel '" + part + "' (the run has channels 1 to " + std::to_string(channels) + ")");
        out.push_back(c - 1);
        at = comma + 1;
    }
    return out;
}

} // namespace adcard::cli
