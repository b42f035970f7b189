#include "series/series_files.h"

#include "series/series_index.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace adcard::series {

namespace fs = std::filesystem;

namespace {

fs::path toPath(const std::string &utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromPath(const fs::path &p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool digits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The coarse level kept in the index: the finest whose spans number at most
// this many in the file's run.
constexpr int64_t kCoarseSpans = 16;

RunTotals totalsOf(const RecordedRun &run, int number)
{
    RunTotals t;
    t.number = number;
    for (int l = 0; l <= run.summaryLevels(); ++l)
        t.widths.push_back(run.summaryWidth(l));
    const int64_t scans = run.scanCount();
    t.whole = run.sums(0, scans);
    t.markers = run.markers();
    for (int l = 1; l <= run.summaryLevels() && t.coarseLevel == 0; ++l)
        if (t.widths[std::size_t(l)] > 0 && (scans + t.widths[std::size_t(l)] - 1) / t.widths[std::size_t(l)] <= kCoarseSpans)
            t.coarseLevel = l;
    if (t.coarseLevel == 0)
        return t;
    const int64_t w = t.widths[std::size_t(t.coarseLevel)];
    for (int64_t first = 0; first < scans; first += w) {
        RunTotals::Entry e{first, run.sums(first, first + w)};
        if (!e.stats.empty() && e.stats[0].count > 0)
            t.coarse.push_back(std::move(e));
    }
    return t;
}

void stamp(SeriesFile &f)
{
    std::error_code ec;
    const fs::path p = toPath(f.path);
    f.size = int64_t(fs::file_size(p, ec));
    if (ec)
        f.size = -1;
    const auto t = fs::last_write_time(p, ec);
    f.mtimeNs = ec ? 0 : int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

// The files named NAME_YYYYMMDD-HHMMSS[_N].h5 in `folder`, by base name.
std::map<std::string, std::vector<std::string>> listFolder(const std::string &folder)
{
    std::map<std::string, std::vector<std::string>> out;
    std::error_code ec;
    for (fs::directory_iterator it(toPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = fromPath(it->path().filename());
        if (const std::string base = baseName(name); !base.empty())
            out[base].push_back(name);
    }
    for (auto &[base, names] : out)
        std::sort(names.begin(), names.end());
    return out;
}

std::string folderOf(const std::string &path)
{
    const fs::path parent = toPath(path).parent_path();
    return parent.empty() ? std::string(".") : fromPath(parent);
}

std::string nameOf(const std::string &path)
{
    return fromPath(toPath(path).filename());
}

} // namespace

std::string pathText(const std::string &folder, const std::string &name)
{
    return fromPath(toPath(folder) / toPath(name));
}

std::string baseName(std::string_view n)
{
    // NAME _ YYYYMMDD - HHMMSS [_N] .h5
    if (n.size() < 3 || n.substr(n.size() - 3) != ".h5")
        return {};
    n.remove_suffix(3);
    if (const auto u = n.rfind('_'); u != std::string_view::npos && u + 1 < n.size() && digits(n.substr(u + 1)) &&
                                     u >= 16 && n[u - 7] == '-')
        n = n.substr(0, u); // the _N of a name already taken
    if (n.size() < 17 || n[n.size() - 16] != '_' || n[n.size() - 7] != '-' || !digits(n.substr(n.size() - 15, 8)) ||
        !digits(n.substr(n.size() - 6)))
        return {};
    return std::string(n.substr(0, n.size() - 16));
}

bool readFile(SeriesFile &file, const Opener &open, std::string &error, bool totals)
{
    const std::unique_ptr<RecordingReader> reader = open(file.path, error);
    if (!reader)
        return false;
    const auto membership = reader->series();
    if (!membership) {
        error = "not a file of a series";
        return false;
    }
    file.membership = *membership;
    file.runs = reader->runs();
    file.formatVersion = reader->formatVersion();
    file.rules = reader->rules();
    reader->events(0, file.events);
    file.totals.clear();
    file.indexed = false;
    for (const RecordedRunInfo &info : file.runs) {
        // A run still being written is read from its file each time.
        if (!totals || info.blocks == 0 || info.open)
            continue;
        std::string why;
        if (const auto run = reader->openRun(info.number, why))
            file.totals.push_back(totalsOf(*run, info.number));
    }
    return true;
}

void orderFiles(std::vector<SeriesFile> &files, std::vector<std::string> &notes)
{
    const auto byPlace = [](const SeriesFile &a, const SeriesFile &b) {
        return a.membership.place < b.membership.place;
    };
    std::stable_sort(files.begin(), files.end(), byPlace);
    // Where places disagree, the blocks decide: a run's number, then its
    // first block across the series.
    const auto firstBlock = [](const SeriesFile &f) {
        for (const RecordedRunInfo &r : f.runs)
            if (r.blocks > 0)
                return std::pair<int64_t, int64_t>{r.number, r.seriesFirstBlock};
        return std::pair<int64_t, int64_t>{INT64_MAX, INT64_MAX};
    };
    bool reorder = false;
    // A file with no run yet (the next one, made ahead of its time) has no
    // time to compare: the clock is judged between files that have one.
    const SeriesFile *timed = nullptr;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const SeriesFile &b = files[k];
        if (k > 0 && files[k - 1].membership.place == b.membership.place) {
            const SeriesFile &a = files[k - 1];
            notes.push_back("'" + a.name + "' and '" + b.name + "' both claim place " +
                            std::to_string(b.membership.place) + " of the series: read in the order of their blocks");
            reorder = true;
        } else if (timed && !b.runs.empty() && b.runs.front().startTimeNs < timed->runs.front().startTimeNs) {
            notes.push_back("the clock runs backwards from '" + timed->name + "' to '" + b.name +
                            "': read in the order of their blocks");
            reorder = true;
        }
        if (!b.runs.empty())
            timed = &b;
    }
    if (reorder)
        std::stable_sort(files.begin(), files.end(),
                         [&](const SeriesFile &a, const SeriesFile &b) { return firstBlock(a) < firstBlock(b); });
}

namespace {

// The names to read in each (folder, base name).
struct Wanted {
    std::set<std::string> names;
    bool whole = false; // every file of the name in its folder: the index may be rewritten
};
using WantedFiles = std::map<std::pair<std::string, std::string>, Wanted>;

WantedFiles wantedFiles(const std::vector<std::string> &paths)
{
    WantedFiles wanted;
    for (const std::string &p : paths) {
        std::error_code ec;
        if (fs::is_directory(toPath(p), ec)) {
            for (auto &[base, names] : listFolder(p)) {
                Wanted &w = wanted[{p, base}];
                w.names.insert(names.begin(), names.end());
                w.whole = true;
            }
            continue;
        }
        const std::string folder = folderOf(p), name = nameOf(p), base = baseName(name);
        if (paths.size() == 1 && !base.empty()) {
            const auto all = listFolder(folder);
            if (const auto it = all.find(base); it != all.end()) {
                Wanted &w = wanted[{folder, base}];
                w.names.insert(it->second.begin(), it->second.end());
                w.whole = true;
            }
        }
        wanted[{folder, base}].names.insert(name);
    }
    return wanted;
}

// The files of one name in one folder, from the index where it is up to
// date, from themselves otherwise; the index rewritten where it was not.
std::vector<SeriesFile> readGroup(const std::string &folder, const std::string &base, const Wanted &want,
                                  const Opener &open, bool useIndex, std::vector<std::string> &notes)
{
    SeriesIndex index(folder, base);
    if (useIndex && !base.empty())
        index.load();
    bool changed = false;
    std::vector<SeriesFile> group;
    group.reserve(want.names.size());
    for (const std::string &name : want.names) {
        SeriesFile f;
        f.path = pathText(folder, name);
        f.name = name;
        stamp(f);
        if (!useIndex || !index.take(f)) {
            std::string why;
            if (!readFile(f, open, why, useIndex)) {
                notes.push_back("'" + name + "' left out: " + why);
                continue;
            }
            // A file still being written is never in the index: no reason to write it again.
            changed = changed ||
                      std::none_of(f.runs.begin(), f.runs.end(), [](const RecordedRunInfo &r) { return r.open; });
        }
        group.push_back(std::move(f));
    }
    if (useIndex && want.whole && !base.empty() && (changed || index.stale(group)))
        if (std::string why = index.save(group); !why.empty())
            notes.push_back("the index beside the series was not written: " + why);
    return group;
}

} // namespace

Found findSeries(const std::vector<std::string> &paths, const Opener &open, bool useIndex)
{
    Found found;
    std::map<std::string, FoundSeries> byId;
    for (const auto &[where, want] : wantedFiles(paths)) {
        const auto &[folder, base] = where;
        for (SeriesFile &f : readGroup(folder, base, want, open, useIndex, found.notes)) {
            FoundSeries &s = byId[f.membership.id];
            if (s.files.empty())
                s = {f.membership.id, f.membership.startNs, folder, base, {}};
            s.files.push_back(std::move(f));
        }
    }
    for (auto &[id, s] : byId) {
        orderFiles(s.files, found.notes);
        found.series.push_back(std::move(s));
    }
    std::stable_sort(found.series.begin(), found.series.end(),
                     [](const FoundSeries &a, const FoundSeries &b) { return a.startNs > b.startNs; });
    return found;
}

} // namespace adcard::series
