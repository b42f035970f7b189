#include "series/series_index.h"

#include "platform/native_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace adcard::series {

namespace {

constexpr const char *kHeader = "adcard-series-index\t1";

std::string escaped(const std::string &s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescaped(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char n = s[++i];
        out += n == 't' ? '\t' : n == 'n' ? '\n' : n;
    }
    return out;
}

// One line's fields, written and read in turn.
class Line {
public:
    Line &operator<<(const std::string &s)
    {
        text_ += (text_.empty() ? "" : "\t") + escaped(s);
        return *this;
    }
    Line &operator<<(const char *s) { return *this << std::string(s); }
    template <typename T>
    Line &operator<<(T v)
        requires std::is_arithmetic_v<T>
    {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        return *this << std::string(buf, r.ptr);
    }
    const std::string &text() const { return text_; }

private:
    std::string text_;
};

class Fields {
public:
    explicit Fields(std::string_view line)
    {
        std::size_t at = 0;
        while (true) {
            const std::size_t tab = line.find('\t', at);
            f_.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
            if (tab == std::string_view::npos)
                break;
            at = tab + 1;
        }
    }
    bool ok() const { return ok_ && i_ <= f_.size(); }
    std::string_view tag() const { return f_[0]; }
    std::string text() { return i_ < f_.size() ? unescaped(f_[i_++]) : (ok_ = false, std::string()); }
    template <typename T>
    T num()
    {
        T v{};
        if (i_ >= f_.size()) {
            ok_ = false;
            return v;
        }
        const std::string_view s = f_[i_++];
        const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        ok_ = ok_ && r.ec == std::errc() && r.ptr == s.data() + s.size();
        return v;
    }
    std::size_t left() const { return f_.size() - std::min(i_, f_.size()); }

private:
    std::vector<std::string_view> f_; // numbers never hold an escape
    std::size_t i_ = 1;
    bool ok_ = true;
};

void putStats(Line &l, const std::vector<Stats> &s)
{
    for (const Stats &a : s)
        l << a.count << a.min << a.max << a.sum << a.sumSq;
}

std::vector<Stats> getStats(Fields &f)
{
    std::vector<Stats> out(f.left() / 5);
    for (Stats &a : out)
        a = {f.num<int64_t>(), f.num<int16_t>(), f.num<int16_t>(), f.num<int64_t>(), f.num<int64_t>()};
    return out;
}

void putFile(std::ostringstream &o, const SeriesFile &f)
{
    const SeriesMembership &m = f.membership;
    o << (Line() << "file" << f.name << f.size << f.mtimeNs << m.id << m.place << m.startNs << m.split << f.events << f.formatVersion)
             .text()
      << '\n';
    for (const RecordedRules &r : f.rules)
        o << (Line() << "rules" << r.run << r.timeNs << r.text).text() << '\n';
    for (const RecordedRunInfo &r : f.runs) {
        Line l;
        l << "run" << r.number << r.startTimeNs << r.startTime << r.channels << r.scansPerBlock << r.scansPerSecond
          << r.blocks << r.scans << r.missed << r.dropped << r.holes << int(r.open) << r.calibration.offset
          << r.calibration.scale << r.seriesFirstBlock << int(r.continues);
        for (const ChannelUnit &u : r.units)
            l << u.name << u.unit << u.scale << u.offset;
        o << l.text() << '\n';
    }
    for (const RunTotals &t : f.totals) {
        Line l;
        l << "totals" << t.number << t.coarseLevel << t.widths.size();
        for (int64_t w : t.widths)
            l << w;
        putStats(l, t.whole);
        o << l.text() << '\n';
        for (const RecordedMarker &m : t.markers)
            o << (Line() << "marker" << m.scan << m.timeNs << m.text).text() << '\n';
        for (const RunTotals::Entry &e : t.coarse) {
            Line el;
            el << "entry" << e.first;
            putStats(el, e.stats);
            o << el.text() << '\n';
        }
    }
}

bool readRun(Fields &f, SeriesFile &file)
{
    RecordedRunInfo r;
    r.number = f.num<int>();
    r.startTimeNs = f.num<int64_t>();
    r.startTime = f.text();
    r.channels = f.num<int>();
    r.scansPerBlock = f.num<int32_t>();
    r.scansPerSecond = f.num<double>();
    r.blocks = f.num<int64_t>();
    r.scans = f.num<int64_t>();
    r.missed = f.num<int64_t>();
    r.dropped = f.num<int64_t>();
    r.holes = f.num<int64_t>();
    r.open = f.num<int>() != 0;
    r.calibration.offset = f.num<double>();
    r.calibration.scale = f.num<double>();
    r.seriesFirstBlock = f.num<int64_t>();
    r.continues = f.num<int>() != 0;
    while (f.ok() && f.left() >= 4) {
        ChannelUnit u;
        u.name = f.text();
        u.unit = f.text();
        u.scale = f.num<double>();
        u.offset = f.num<double>();
        r.units.push_back(u);
    }
    file.runs.push_back(std::move(r));
    return f.ok() && f.left() == 0;
}

bool readTotals(Fields &f, SeriesFile &file)
{
    RunTotals t;
    t.number = f.num<int>();
    t.coarseLevel = f.num<int>();
    const auto n = f.num<std::size_t>();
    if (!f.ok() || n > 64 || f.left() < n)
        return false;
    for (std::size_t k = 0; k < n; ++k)
        t.widths.push_back(f.num<int64_t>());
    t.whole = getStats(f);
    const bool ok = f.ok() && f.left() == 0 && t.coarseLevel >= 0 && t.coarseLevel < int(n);
    file.totals.push_back(std::move(t));
    return ok;
}

} // namespace

bool growing(const SeriesFile &f)
{
    return std::any_of(f.runs.begin(), f.runs.end(), [](const RecordedRunInfo &r) { return r.open; });
}

std::string indexText(const std::vector<SeriesFile> &files)
{
    std::ostringstream o;
    o << kHeader << '\n';
    for (const SeriesFile &f : files)
        // The file still being written is read from itself each time.
        if (!growing(f))
            putFile(o, f);
    o << "end\n";
    return o.str();
}

std::string indexText(const std::map<std::string, SeriesFile> &files)
{
    std::vector<SeriesFile> all;
    for (const auto &[name, f] : files)
        all.push_back(f);
    return indexText(all);
}

bool parseIndex(const std::string &text, std::map<std::string, SeriesFile> &files)
{
    std::string_view rest(text);
    const auto nextLine = [&](std::string_view &line) {
        if (rest.empty())
            return false;
        const std::size_t nl = rest.find('\n');
        line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line != kHeader)
        return false;
    SeriesFile *f = nullptr;
    while (nextLine(line)) {
        Fields fs(line);
        bool ok = true;
        if (fs.tag() == "end")
            return true;
        if (fs.tag() == "file") {
            SeriesFile nf;
            nf.name = fs.text();
            nf.size = fs.num<int64_t>();
            nf.mtimeNs = fs.num<int64_t>();
            nf.membership.id = fs.text();
            nf.membership.place = fs.num<int64_t>();
            nf.membership.startNs = fs.num<int64_t>();
            nf.membership.split = fs.text();
            nf.events = fs.num<int64_t>();
            nf.formatVersion = fs.num<int>();
            nf.indexed = true;
            ok = fs.ok() && fs.left() == 0;
            f = &(files[nf.name] = std::move(nf));
        } else if (fs.tag() == "run" && f) {
            ok = readRun(fs, *f);
        } else if (fs.tag() == "totals" && f) {
            ok = readTotals(fs, *f);
        } else if (fs.tag() == "rules" && f) {
            RecordedRules r;
            r.run = fs.num<int>();
            r.timeNs = fs.num<int64_t>();
            r.text = fs.text();
            ok = fs.ok() && fs.left() == 0;
            f->rules.push_back(std::move(r));
        } else if (fs.tag() == "marker" && f && !f->totals.empty()) {
            RecordedMarker m;
            m.scan = fs.num<int64_t>();
            m.timeNs = fs.num<int64_t>();
            m.text = fs.text();
            ok = fs.ok() && fs.left() == 0;
            f->totals.back().markers.push_back(std::move(m));
        } else if (fs.tag() == "entry" && f && !f->totals.empty()) {
            RunTotals::Entry e;
            e.first = fs.num<int64_t>();
            e.stats = getStats(fs);
            ok = fs.ok() && fs.left() == 0 && e.stats.size() == f->totals.back().whole.size();
            f->totals.back().coarse.push_back(std::move(e));
        } else {
            ok = false;
        }
        if (!ok) {
            files.clear();
            return false;
        }
    }
    files.clear(); // cut short: its end is missing
    return false;
}

SeriesIndex::SeriesIndex(std::string folder, std::string base) : folder_(std::move(folder)), base_(std::move(base)) {}

std::string SeriesIndex::path() const
{
    return pathText(folder_, base_ + ".series-index");
}

void SeriesIndex::load()
{
    loaded_.clear();
    int err = 0;
    const nativefile::Handle h = nativefile::openRead(path(), err);
    if (h == nativefile::kNone)
        return;
    uint64_t bytes = 0;
    std::string text;
    if (nativefile::size(h, bytes) && bytes < (uint64_t{1} << 30)) {
        text.resize(std::size_t(bytes));
        if (!nativefile::readAt(h, text.data(), text.size(), 0))
            text.clear();
    }
    nativefile::close(h);
    parseIndex(text, loaded_);
}

bool SeriesIndex::take(SeriesFile &f)
{
    const auto it = loaded_.find(f.name);
    if (it == loaded_.end() || it->second.size != f.size || it->second.mtimeNs != f.mtimeNs || f.size < 0 ||
        growing(it->second) || it->second.runs.empty())
        return false;
    std::string path = std::move(f.path);
    f = std::move(it->second);
    f.path = std::move(path);
    return true;
}

bool SeriesIndex::stale(const std::vector<SeriesFile> &files) const
{
    std::set<std::string> now;
    for (const SeriesFile &f : files)
        now.insert(f.name);
    for (const auto &[name, f] : loaded_)
        if (!now.count(name))
            return true;
    return false;
}

std::string SeriesIndex::save(const std::vector<SeriesFile> &files) const
{
    const std::string text = indexText(files);
    std::string temp;
    int err = 0;
    const nativefile::Handle h = nativefile::createBeside(path(), ".tmp", temp, err);
    if (h == nativefile::kNone)
        return std::strerror(err);
    err = nativefile::writeAll(h, text.data(), text.size());
    const int closed = nativefile::close(h);
    if (err == 0)
        err = closed;
    if (err == 0)
        err = nativefile::replace(temp, path());
    if (err != 0) {
        nativefile::remove(temp);
        return std::strerror(err);
    }
    return {};
}

} // namespace adcard::series
