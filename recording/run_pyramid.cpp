#include "recording/run_pyramid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace adcard {

namespace {

void addEntry(std::span<Stats> acc, const EntryRef &e)
{
    for (std::size_t k = 0; k < acc.size(); ++k)
        acc[k].add(Stats{e.count, e.min[k], e.max[k], e.sum[k], e.sumSq[k]});
}

int64_t ceilDiv(int64_t a, int64_t b)
{
    return a / b + (a % b > 0 ? 1 : 0);
}

} // namespace

void PyramidRun::setGeometry(int64_t base, int64_t factor, int levels)
{
    widths_.assign(1, 1);
    int64_t w = base;
    for (int l = 1; l <= levels && base > 1 && factor > 1 && w <= (int64_t{1} << 50); ++l, w *= factor)
        widths_.push_back(w);
}

void PyramidRun::addSpans(int level, int64_t first, int64_t end, std::span<Stats> acc, int64_t &budget) const
{
    if (level == 0) {
        end = std::min(end, scanCount());
        if (first >= end || end - first > budget)
            return;
        budget -= end - first;
        forStretches(first, end, [&](int64_t, const int16_t *codes, int64_t n) { addScans(acc, codes, n); });
        return;
    }
    if (first >= end)
        return;
    const int64_t ready = readySpans(level);
    if (first < ready)
        forEntries(level, first, std::min(end, ready), [&](const EntryRef &e) { addEntry(acc, e); });
    if (end > ready) {
        const int64_t f = width(level) / width(level - 1);
        addSpans(level - 1, std::max(first, ready) * f, end * f, acc, budget);
    }
}

void PyramidRun::addExact(int64_t first, int64_t end, int level, std::span<Stats> acc) const
{
    if (first >= end)
        return;
    if (level == 0) {
        forStretches(first, end, [&](int64_t, const int16_t *codes, int64_t n) { addScans(acc, codes, n); });
        return;
    }
    const int64_t w = width(level);
    const int64_t j0 = ceilDiv(first, w);
    const int64_t j1 = end / w;
    if (j0 >= j1) {
        addExact(first, end, level - 1, acc);
        return;
    }
    int64_t unlimited = std::numeric_limits<int64_t>::max();
    addExact(first, j0 * w, level - 1, acc);
    addSpans(level, j0, j1, acc, unlimited);
    addExact(j1 * w, end, level - 1, acc);
}

void PyramidRun::summarise(double first, double last, int columns, std::span<ColumnSummary> out) const
{
    std::fill(out.begin(), out.end(), ColumnSummary{});
    const int ch = channels();
    columns = columnsToFill(first, last, columns, out.size(), ch);
    if (columns == 0)
        return;
    const double w = (last - first) / columns;
    // Kept from frame to frame: fresh pages for every redraw cost more than
    // the reduction of a zoomed-out frame.
    thread_local std::vector<Stats> acc;
    acc.assign(std::size_t(columns) * std::size_t(ch), Stats{});

    const auto lock = lockLevels();
    int level = 0;
    for (int l = 1; l <= levels(); ++l)
        if (double(width(l)) <= w)
            level = l;
    if (level == 0)
        columnsFromScans(first, w, columns, acc);
    else
        columnsFromLevel(level, first, w, columns, acc);

    for (std::size_t i = 0; i < acc.size(); ++i)
        if (acc[i].count > 0)
            out[i] = columnSummaryOf(acc[i]);
}

void PyramidRun::columnsFromScans(double first, double w, int columns, std::span<Stats> acc) const
{
    const auto ch = std::size_t(channels());
    const int64_t scans = scanCount();
    // Far outside the run there is nothing to read, and doubles beyond
    // 2^62 do not convert.
    auto clampScan = [&](double s) { return int64_t(std::clamp(std::floor(s), 0.0, double(scans))); };
    // Columns a level-1 entry would not fit: the scans themselves.
    for (int c = 0; c < columns; ++c) {
        const double a = std::floor(first + c * w);
        double b = std::floor(first + (c + 1) * w);
        if (b <= a)
            b = a + 1;
        const int64_t from = clampScan(a);
        const int64_t to = clampScan(b);
        const auto column = acc.subspan(std::size_t(c) * ch, ch);
        if (from < to)
            forStretches(from, to, [&](int64_t, const int16_t *codes, int64_t n) { addScans(column, codes, n); });
    }
}

void PyramidRun::columnsFromLevel(int level, double first, double w, int columns, std::span<Stats> acc) const
{
    const auto ch = std::size_t(channels());
    const auto column = [&](std::size_t c) { return acc.subspan(c * ch, ch); };
    // Column edges move to the level's grid, so that each entry falls into
    // exactly one column.
    const int64_t wl = width(level);
    const int64_t spanEnd = ceilDiv(scanCount(), wl);
    thread_local std::vector<int64_t> edge;
    edge.resize(std::size_t(columns) + 1);
    for (int c = 0; c <= columns; ++c)
        edge[std::size_t(c)] = int64_t(std::clamp(std::round((first + c * w) / double(wl)), 0.0, double(spanEnd)));
    const int64_t ready = std::min(readySpans(level), spanEnd);
    const int64_t to = std::min(edge.back(), ready);
    if (edge.front() < to) {
        std::size_t c = 0;
        forEntries(level, edge.front(), to, [&](const EntryRef &e) {
            while (c < std::size_t(columns) && e.span >= edge[c + 1])
                ++c;
            if (c < std::size_t(columns) && e.span >= edge[c])
                addEntry(column(c), e);
        });
    }
    // Where the level is not ready yet, the finer levels and the scans.
    int64_t budget = rawBudget();
    const int64_t f = wl / width(level - 1);
    for (int c = 0; c < columns; ++c) {
        const int64_t from = std::max(edge[std::size_t(c)], ready);
        const int64_t end = edge[std::size_t(c) + 1];
        if (from < end)
            addSpans(level - 1, from * f, end * f, column(std::size_t(c)), budget);
    }
}

std::vector<RangeStats> PyramidRun::stats(int64_t firstScan, int64_t lastScan) const
{
    std::vector<RangeStats> out;
    for (const Stats &a : PyramidRun::sums(firstScan, lastScan))
        out.push_back(a.range());
    return out;
}

std::vector<Stats> PyramidRun::sums(int64_t firstScan, int64_t lastScan) const
{
    const int ch = std::max(0, channels());
    std::vector<Stats> acc(static_cast<std::size_t>(ch));
    const int64_t from = std::max<int64_t>(firstScan, 0);
    const int64_t to = std::min(lastScan, scanCount());
    if (from < to) {
        const auto lock = lockLevels();
        addExact(from, to, levels(), acc);
    }
    return acc;
}

LevelSpans PyramidRun::levelSpans(int level, int channel, int64_t first, int64_t end) const
{
    LevelSpans out;
    out.readyEnd = first;
    if (level < 1 || level > levels() || channel < 0 || channel >= channels() || first >= end)
        return out;
    const int64_t w = width(level);
    const int64_t firstSpan = ceilDiv(std::max<int64_t>(first, 0), w);
    const int64_t endSpan = end / w;
    const auto lock = lockLevels();
    const int64_t ready = std::max(firstSpan, std::min(endSpan, readySpans(level)));
    const std::size_t c = std::size_t(channel);
    if (firstSpan < ready)
        forEntries(level, firstSpan, ready, [&](const EntryRef &e) {
            out.spans.push_back({e.span * w, (e.span + 1) * w, e.count, e.min[c], e.max[c]});
        });
    out.readyEnd = std::max(first, ready * w);
    return out;
}

bool PyramidRun::readScans(int64_t first, int64_t end,
                           const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const
{
    bool going = true;
    end = std::min(end, scanCount());
    if (std::max<int64_t>(first, 0) < end)
        forStretches(std::max<int64_t>(first, 0), end, [&](int64_t at, const int16_t *codes, int64_t n) {
            going = going && fn(at, codes, n);
        });
    return going;
}

std::vector<ScanGap> PyramidRun::gapsAtScale(int64_t first, int64_t end, int64_t scale, std::size_t most) const
{
    first = std::max<int64_t>(first, 0);
    end = std::min(end, scanCount());
    int level = 0;
    for (int l = 1; l <= levels(); ++l)
        if (width(l) <= scale)
            level = l;
    if (level == 0 || first >= end) {
        int64_t total = 0;
        return gaps(first, end, most, total);
    }
    // A span of the level that lacks scans holds a gap somewhere: at this
    // scale that is where it is. Its entries are those the view's columns
    // read, so the holes cost no reads of their own.
    std::vector<ScanGap> out;
    auto add = [&](int64_t a, int64_t b) {
        a = std::max(a, first);
        b = std::min(b, end);
        if (a >= b)
            return;
        if (!out.empty() && out.back().end >= a)
            out.back().end = std::max(out.back().end, b);
        else if (out.size() < most)
            out.push_back({a, b});
    };
    const int64_t w = width(level), scans = scanCount();
    const int64_t j0 = first / w, j1 = ceilDiv(end, w);
    int64_t ready = 0;
    {
        const auto lock = lockLevels();
        ready = std::clamp(readySpans(level), j0, j1);
        int64_t next = j0; // the first span not seen yet
        if (j0 < ready)
            forEntries(level, j0, ready, [&](const EntryRef &e) {
                add(next * w, e.span * w); // spans without an entry have no scans
                if (e.count < std::min(w, scans - e.span * w))
                    add(e.span * w, (e.span + 1) * w);
                next = e.span + 1;
            });
        add(next * w, ready * w);
    }
    // Where the level does not answer yet (a live run's newest scans), the
    // rows do, exactly.
    if (ready * w < end) {
        int64_t total = 0;
        for (const ScanGap &g : gaps(std::max(first, ready * w), end, most, total))
            add(g.first, g.end);
    }
    return out;
}

} // namespace adcard
