#include "series/series_state.h"

#include <algorithm>

namespace adcard::series {

SeriesState::SeriesState(Opener o, std::vector<std::string> req, std::string i, std::size_t mostOpen)
    : open(std::move(o)), request(std::move(req)), id(std::move(i)), mostOpen_(std::max<std::size_t>(1, mostOpen))
{
}

std::shared_ptr<RecordedRun> SeriesState::run(const std::string &path, int number, std::string &error)
{
    const std::lock_guard lock(mutex);
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (it->path == path && it->number == number) {
            open_.splice(open_.begin(), open_, it);
            return open_.front().run;
        }
    std::shared_ptr<RecordedRun> run;
    if (live && path == livePath) {
        run = live->openRun(number, error);
    } else {
        const std::unique_ptr<RecordingReader> reader = open(path, error);
        if (reader)
            run = reader->openRun(number, error);
    }
    if (!run)
        return nullptr;
    open_.push_front({path, number, run});
    while (open_.size() > mostOpen_)
        open_.pop_back();
    mostOpenSeen_ = std::max(mostOpenSeen_, open_.size() + (live ? 1 : 0));
    return run;
}

std::size_t SeriesState::openNow() const
{
    return open_.size() + (live ? 1 : 0);
}

void SeriesState::forget(const std::string &path)
{
    open_.remove_if([&](const Open &o) { return o.path == path; });
}

void SeriesState::piecesOf(int number, std::vector<Piece> &pieces, std::vector<MissingFile> &missing) const
{
    pieces.clear();
    missing.clear();
    int64_t prevEnd = 0, prevPlace = -1;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const SeriesFile &f = files[i];
        for (const RecordedRunInfo &r : f.runs) {
            if (r.number != number || r.blocks == 0)
                continue;
            Piece p;
            p.file = i;
            p.path = f.path;
            p.name = f.name;
            p.offset = r.seriesFirstBlock * r.scansPerBlock;
            p.first = std::max(p.offset, prevEnd);
            p.end = p.offset + r.scans;
            p.info = r;
            for (const RunTotals &t : f.totals)
                if (t.number == number)
                    p.totals = std::make_shared<const RunTotals>(t);
            if (p.first >= p.end)
                continue; // its blocks are all held by the file before
            const int64_t place = f.membership.place;
            if (!pieces.empty() && p.first > prevEnd && place > prevPlace + 1)
                missing.push_back({prevPlace + 1, place - prevPlace - 1, prevEnd, p.first});
            prevEnd = p.end;
            prevPlace = place;
            pieces.push_back(std::move(p));
        }
    }
    // The run's scans count from the first the series still holds: files
    // before it (deleted to make room) are not a gap at its start.
    const int64_t base = pieces.empty() ? 0 : pieces.front().first;
    for (Piece &p : pieces) {
        p.offset -= base;
        p.first -= base;
        p.end -= base;
    }
    for (MissingFile &m : missing) {
        m.first -= base;
        m.end -= base;
    }
}

} // namespace adcard::series
