#include "series/series_reader.h"

#include "platform/local_time.h"

#include <algorithm>
#include <set>

namespace adcard::series {

namespace {

// What makes two findings of the files differ for a reader.
std::vector<int64_t> keyOf(const std::vector<SeriesFile> &files)
{
    std::vector<int64_t> k;
    for (const SeriesFile &f : files) {
        k.insert(k.end(), {f.size, f.mtimeNs, f.membership.place, f.events});
        for (const RecordedRunInfo &r : f.runs)
            k.insert(k.end(), {r.number, r.blocks, r.scans, r.open, r.missed, r.dropped});
    }
    return k;
}

} // namespace

std::string joinNotes(const std::vector<std::string> &notes)
{
    std::string out;
    for (const std::string &n : notes)
        out += (out.empty() ? "" : "\n") + n;
    return out;
}

std::unique_ptr<SeriesReader> SeriesReader::open(const std::vector<std::string> &paths, const Opener &opener,
                                                 const std::string &id, std::string &error, std::size_t mostOpen,
                                                 bool useIndex)
{
    Found found = findSeries(paths, opener, useIndex);
    auto chosen = found.series.begin();
    if (!id.empty())
        chosen = std::find_if(found.series.begin(), found.series.end(), [&](const FoundSeries &s) {
            return s.id == id;
        });
    if (chosen == found.series.end()) {
        error = found.series.empty() ? "no file of a series found" : "no series " + id + " there";
        if (!found.notes.empty())
            error += " (" + joinNotes(found.notes) + ")";
        return nullptr;
    }
    auto st = std::make_shared<SeriesState>(opener, paths, chosen->id, mostOpen);
    st->useIndex = useIndex;
    std::unique_ptr<SeriesReader> reader(new SeriesReader(st));
    for (const FoundSeries &s : found.series)
        if (s.id != chosen->id) {
            reader->others_.push_back({s.id, s.startNs, s.files.size()});
            std::string which = std::to_string(s.files.size()) + " files";
            if (s.files.size() <= 3) {
                which.clear();
                for (const SeriesFile &f : s.files)
                    which += (which.empty() ? "'" : ", '") + f.name + "'";
            }
            found.notes.push_back("series " + s.id + " (" + which + ") left out: another series than " +
                                  chosen->id + " (choose it by its ID)");
        }
    reader->adopt(std::move(*chosen), std::move(found.notes));
    return reader;
}

bool SeriesReader::adopt(FoundSeries s, std::vector<std::string> notes)
{
    // The newest file while it is being written stays open, so that its
    // runs see what its writer flushes.
    const SeriesFile *newest = s.files.empty() ? nullptr : &s.files.back();
    const bool growing = newest && std::any_of(newest->runs.begin(), newest->runs.end(),
                                               [](const RecordedRunInfo &r) { return r.open; });
    std::unique_ptr<RecordingReader> fresh;
    {
        const std::lock_guard lock(st_->mutex);
        if (growing && st_->livePath != newest->path) {
            std::string why;
            fresh = st_->open(newest->path, why);
        }
    }
    const std::lock_guard lock(st_->mutex);
    const bool changed = keyOf(st_->files) != keyOf(s.files);
    if (!growing || fresh) {
        if (!st_->livePath.empty())
            st_->forget(st_->livePath); // it was growing: its runs are read afresh
        st_->live = std::move(fresh);
        st_->livePath = st_->live ? newest->path : std::string();
    } else if (st_->live) {
        st_->live->refresh();
    }
    if (!s.files.empty())
        for (const SeriesFile &f : s.files)
            formatVersion_ = std::min(formatVersion_, f.formatVersion);
    st_->files = std::move(s.files);
    st_->notes = std::move(notes);
    if (changed)
        ++st_->generation;
    return changed;
}

bool SeriesReader::refresh()
{
    Found found = findSeries(st_->request, st_->open, st_->useIndex);
    for (FoundSeries &s : found.series)
        if (s.id == st_->id)
            return adopt(std::move(s), std::move(found.notes));
    return false;
}

std::vector<RecordedRunInfo> SeriesReader::runs() const
{
    std::set<int> numbers;
    {
        const std::lock_guard lock(st_->mutex);
        for (const SeriesFile &f : st_->files)
            for (const RecordedRunInfo &r : f.runs)
                numbers.insert(r.number);
    }
    std::vector<RecordedRunInfo> out;
    for (int n : numbers)
        out.push_back(SeriesRun(st_, n).info());
    return out;
}

std::unique_ptr<RecordedRun> SeriesReader::openRun(int number, std::string &error)
{
    auto run = std::make_unique<SeriesRun>(st_, number);
    if (run->info().blocks == 0) {
        error = "run " + std::to_string(number) + (run->info().channels ? " has no blocks" : " is in no file");
        return nullptr;
    }
    return run;
}

std::vector<RecordedEvent> SeriesReader::events(std::size_t most, int64_t &total) const
{
    std::vector<SeriesFile> files;
    {
        const std::lock_guard lock(st_->mutex);
        files = st_->files;
    }
    std::vector<RecordedEvent> out;
    total = 0;
    for (const SeriesFile &f : files) {
        total += f.events;
        if (f.events == 0 || out.size() >= most)
            continue;
        std::string why;
        const auto reader = st_->open(f.path, why);
        int64_t ignored = 0;
        for (RecordedEvent e : reader ? reader->events(most - out.size(), ignored) : std::vector<RecordedEvent>{}) {
            for (const RecordedRunInfo &r : f.runs)
                if (r.number == e.run)
                    e.scan += r.seriesFirstBlock * r.scansPerBlock;
            out.push_back(std::move(e));
        }
    }
    return out;
}

std::vector<RecordedRules> SeriesReader::rules() const
{
    const std::lock_guard lock(st_->mutex);
    std::vector<RecordedRules> out;
    for (const SeriesFile &f : st_->files)
        for (const RecordedRules &r : f.rules)
            // Each file states the rules in force as it begins: one arming, not a new one.
            if (out.empty() || out.back().text != r.text || out.back().run != r.run)
                out.push_back(r);
    return out;
}

std::optional<SeriesMembership> SeriesReader::series() const
{
    const std::lock_guard lock(st_->mutex);
    if (st_->files.empty())
        return std::nullopt;
    SeriesMembership m = st_->files.front().membership;
    m.place = 0;
    return m;
}

std::size_t SeriesReader::fileCount() const
{
    const std::lock_guard lock(st_->mutex);
    return st_->files.size();
}

std::string SeriesReader::newestPath() const
{
    const std::lock_guard lock(st_->mutex);
    return st_->files.empty() ? std::string() : st_->files.back().path;
}

std::size_t SeriesReader::mostOpenSeen() const
{
    const std::lock_guard lock(st_->mutex);
    return st_->mostOpenSeen();
}

std::vector<std::string> SeriesReader::missingNotes() const
{
    std::vector<std::string> out;
    for (const RecordedRunInfo &info : runs()) {
        const SeriesRun run(st_, info.number);
        for (const MissingFile &m : run.missingFiles()) {
            const double rate = info.scansPerSecond > 0 ? info.scansPerSecond : 1.0;
            const auto at = [&](int64_t scan) {
                return formatLocalTime(info.startTimeNs + int64_t(double(scan) / rate * 1e9), 0);
            };
            const std::string which = m.places == 1
                                          ? "the file of place " + std::to_string(m.place)
                                          : "the files of places " + std::to_string(m.place) + " to " +
                                                std::to_string(m.place + m.places - 1);
            out.push_back("run " + std::to_string(info.number) + ": " + which + " missing, a gap from " +
                          at(m.first) + " to " + at(m.end) + " (scans " + std::to_string(m.first) + " to " +
                          std::to_string(m.end) + ")");
        }
    }
    return out;
}

std::vector<std::string> SeriesReader::notes() const
{
    std::vector<std::string> out;
    {
        const std::lock_guard lock(st_->mutex);
        out = st_->notes;
    }
    for (std::string &m : missingNotes())
        out.push_back(std::move(m));
    return out;
}

} // namespace adcard::series
