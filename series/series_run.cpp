#include "series/series_run.h"

#include <algorithm>
#include <cmath>

namespace adcard::series {

namespace {

void addAll(std::span<Stats> acc, const std::vector<Stats> &s)
{
    for (std::size_t k = 0; k < acc.size() && k < s.size(); ++k)
        acc[k].add(s[k]);
}

} // namespace

SeriesRun::SeriesRun(std::shared_ptr<SeriesState> state, int number) : st_(std::move(state)), number_(number)
{
    sync();
}

void SeriesRun::sync() const
{
    const std::lock_guard lock(mutex_);
    if (gen_ == st_->generation.load())
        return;
    auto ps = std::make_shared<std::vector<Piece>>();
    {
        const std::lock_guard stateLock(st_->mutex);
        gen_ = st_->generation.load();
        st_->piecesOf(number_, *ps, missing_);
    }
    pieces_ = ps;
    RecordedRunInfo i;
    i.number = number_;
    if (!ps->empty()) {
        const RecordedRunInfo &f = ps->front().info;
        i.startTimeNs = f.startTimeNs;
        i.startTime = f.startTime;
        i.channels = f.channels;
        i.scansPerBlock = f.scansPerBlock;
        i.scansPerSecond = f.scansPerSecond;
        i.calibration = f.calibration;
        i.units = f.units;
        i.scans = ps->back().end;
        i.open = ps->back().info.open;
    }
    int64_t prevEnd = 0;
    for (const Piece &p : *ps) {
        i.blocks += p.info.blocks - (p.first - p.offset) / std::max<int64_t>(1, p.info.scansPerBlock);
        i.missed += p.info.missed;
        i.dropped += p.info.dropped;
        i.holes += p.info.holes + (p.first - prevEnd) / std::max<int64_t>(1, p.info.scansPerBlock);
        prevEnd = p.end;
    }
    info_ = std::move(i);
    for (const Piece &p : *ps)
        if (p.totals && p.totals->widths.size() > 1) {
            widths_ = p.totals->widths;
            break;
        }
}

SeriesRun::Pieces SeriesRun::pieces() const
{
    sync();
    const std::lock_guard lock(mutex_);
    return pieces_;
}

const RecordedRunInfo &SeriesRun::info() const
{
    sync();
    return info_;
}

std::vector<MissingFile> SeriesRun::missingFiles() const
{
    sync();
    const std::lock_guard lock(mutex_);
    return missing_;
}

std::shared_ptr<RecordedRun> SeriesRun::open(const Piece &p) const
{
    std::string why;
    auto run = st_->run(p.path, number_, why);
    if (!run) {
        const std::lock_guard lock(mutex_);
        readError_ = "'" + p.name + "': " + why;
    }
    return run;
}

template <typename Fn>
void SeriesRun::overlapping(const std::vector<Piece> &ps, int64_t first, int64_t end, Fn fn) const
{
    // The first piece that ends after `first`.
    auto it = std::upper_bound(ps.begin(), ps.end(), first, [](int64_t s, const Piece &p) { return s < p.end; });
    for (; it != ps.end() && it->first < end; ++it)
        if (!fn(*it, std::max(first, it->first), std::min(end, it->end)))
            return;
}

std::vector<Stats> SeriesRun::sums(int64_t firstScan, int64_t lastScan) const
{
    const Pieces ps = pieces();
    std::vector<Stats> acc(std::size_t(std::max(0, info().channels)));
    overlapping(*ps, firstScan, lastScan, [&](const Piece &p, int64_t a, int64_t b) {
        if (p.totals && a == p.offset && b == p.end && p.first == p.offset) {
            addAll(acc, p.totals->whole);
        } else if (const auto run = open(p)) {
            addAll(acc, run->sums(a - p.offset, b - p.offset));
        }
        return true;
    });
    return acc;
}

std::vector<RangeStats> SeriesRun::stats(int64_t firstScan, int64_t lastScan) const
{
    std::vector<RangeStats> out;
    for (const Stats &s : sums(firstScan, lastScan))
        out.push_back(s.range());
    return out;
}

bool SeriesRun::forEachScan(int64_t firstScan, int64_t lastScan,
                            const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const
{
    bool going = true;
    const Pieces ps = pieces();
    overlapping(*ps, firstScan, lastScan, [&](const Piece &p, int64_t a, int64_t b) {
        const auto run = open(p);
        bool stopped = false;
        if (!run || !run->forEachScan(a - p.offset, b - p.offset, [&](int64_t k, std::span<const int16_t> codes) {
                return stopped = !scan(k + p.offset, codes), !stopped;
            }))
            going = false;
        if (run && !going && !stopped) {
            const std::lock_guard lock(mutex_);
            readError_ = "'" + p.name + "': " + run->readError();
        }
        return going;
    });
    return going;
}

bool SeriesRun::readScans(int64_t first, int64_t end,
                          const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const
{
    bool going = true;
    const Pieces ps = pieces();
    overlapping(*ps, first, end, [&](const Piece &p, int64_t a, int64_t b) {
        if (const auto run = open(p))
            going = run->readScans(a - p.offset, b - p.offset, [&](int64_t at, const int16_t *codes, int64_t n) {
                return fn(at + p.offset, codes, n);
            });
        return going;
    });
    return going;
}

int SeriesRun::summaryLevels() const
{
    sync();
    {
        const std::lock_guard lock(mutex_);
        if (widths_.size() > 1 || pieces_->empty())
            return int(widths_.size()) - 1;
    }
    const Pieces ps = pieces();
    if (const auto run = open(ps->front())) {
        std::vector<int64_t> w;
        for (int l = 0; l <= run->summaryLevels(); ++l)
            w.push_back(run->summaryWidth(l));
        const std::lock_guard lock(mutex_);
        widths_ = std::move(w);
    }
    const std::lock_guard lock(mutex_);
    return int(widths_.size()) - 1;
}

int64_t SeriesRun::summaryWidth(int level) const
{
    const int levels = summaryLevels();
    const std::lock_guard lock(mutex_);
    return level >= 0 && level <= levels ? widths_[std::size_t(level)] : 0;
}

std::string SeriesRun::readError() const
{
    const std::lock_guard lock(mutex_);
    return readError_;
}

double SeriesRun::summaryProgress() const
{
    // Files of the older layout are summarised as they are opened; the
    // newest piece is the one a view waits for.
    const Pieces ps = pieces();
    if (ps->empty() || ps->back().totals)
        return 1.0;
    const auto run = open(ps->back());
    return run ? run->summaryProgress() : 1.0;
}

} // namespace adcard::series
