#include "review_cli/options.h"

#include "recording/timestamp.h"

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

} // namespace

Options::Options(const std::vector<std::string> &args, const std::vector<std::string> &valued,
                 const std::vector<std::string> &flags)
{
    auto known = [](const std::vector<std::string> &list, const std::string &a) {
        return std::find(list.begin(), list.end(), a) != list.end();
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (known(flags, a)) {
            values_[a] = "";
        } else if (known(valued, a)) {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            values_[a] = args[++i];
        } else if (a.size() > 1 && a[0] == '-' && !parseDouble(a)) {
            throw UsageError("unknown option " + a);
        } else if (file_.empty()) {
            file_ = a;
        } else {
            throw UsageError("unexpected argument '" + a + "'");
        }
    }
    if (file_.empty())
        throw UsageError("no recording named");
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
        throw UsageError(name + ": '" + *v + "' is not a number");
    return *d;
}

int64_t Options::integer(const std::string &name, int64_t fallback, int64_t lo, int64_t hi) const
{
    const auto v = value(name);
    if (!v)
        return fallback;
    int64_t n = 0;
    const auto r = std::from_chars(v->data(), v->data() + v->size(), n);
    if (r.ec != std::errc() || r.ptr != v->data() + v->size() || n < lo || n > hi)
        throw UsageError(name + ": '" + *v + "' is not a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi));
    return n;
}

int64_t parseTime(const std::string &text, const RecordedRunInfo &run, const char *what)
{
    double seconds = 0;
    if (const auto d = parseDouble(text)) {
        seconds = *d;
    } else if (const int64_t ns = parseIso8601(text); ns != 0 && text.size() >= 19) {
        seconds = double(ns - run.startTimeNs) / 1e9;
    } else {
        throw UsageError(std::string(what) + ": '" + text + "' is neither seconds from the run's start nor an ISO 8601 time");
    }
    if (seconds < 0)
        throw UsageError(std::string(what) + ": '" + text + "' is before the run's start");
    const double rate = run.scansPerSecond > 0 ? run.scansPerSecond : 1.0;
    return int64_t(std::min(std::llround(seconds * rate), (long long)(run.scans)));
}

std::pair<int64_t, int64_t> scanRange(const Options &o, const RecordedRunInfo &run)
{
    const int64_t from = o.has("--from") ? parseTime(*o.value("--from"), run, "--from") : 0;
    const int64_t to = o.has("--to") ? parseTime(*o.value("--to"), run, "--to") : run.scans;
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

std::string num(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

} // namespace adcard::cli
