// The run's answers that cut the series into columns, spans and gaps: each
// piece answers its part in its own scans, moved to the series' by its offset.
#include "series/series_run.h"

#include <algorithm>
#include <cmath>

namespace adcard::series {

namespace {

int64_t ceilTo(int64_t v, int64_t w)
{
    return (v / w + (v % w > 0 ? 1 : 0)) * w;
}

int64_t floorTo(int64_t v, int64_t w)
{
    return v / w * w;
}

} // namespace

bool SeriesRun::fromCoarse(const Piece &p, int level) const
{
    return p.totals && p.totals->coarseLevel > 0 && p.totals->coarseLevel <= level && p.first == p.offset;
}

// Columns on `level`'s grid as a single file cuts them (scans for level 0),
// so that a series draws as the file holding the same blocks would.
void SeriesRun::summarise(double first, double last, int columns, std::span<ColumnSummary> out) const
{
    std::fill(out.begin(), out.end(), ColumnSummary{});
    const int ch = channels();
    columns = columnsToFill(first, last, columns, out.size(), ch);
    if (columns == 0)
        return;
    const double w = (last - first) / columns;
    const int levels = summaryLevels();
    int level = 0;
    for (int l = 1; l <= levels; ++l)
        if (double(summaryWidth(l)) <= w)
            level = l;
    const int64_t scans = scanCount();
    // Column c is [edge[2c], edge[2c + 1]).
    std::vector<int64_t> edge(2 * std::size_t(columns));
    for (int c = 0; c < columns; ++c) {
        int64_t a = 0, b = 0;
        if (level == 0) {
            const double x0 = std::floor(first + c * w);
            double x1 = std::floor(first + (c + 1) * w);
            x1 = x1 <= x0 ? x0 + 1 : x1;
            a = int64_t(std::clamp(x0, 0.0, double(scans)));
            b = int64_t(std::clamp(x1, 0.0, double(scans)));
        } else {
            const int64_t wl = summaryWidth(level);
            const double spans = double((scans + wl - 1) / wl);
            a = int64_t(std::clamp(std::round((first + c * w) / double(wl)), 0.0, spans)) * wl;
            b = int64_t(std::clamp(std::round((first + (c + 1) * w) / double(wl)), 0.0, spans)) * wl;
        }
        edge[2 * std::size_t(c)] = a;
        edge[2 * std::size_t(c) + 1] = b;
    }
    std::vector<Stats> acc(std::size_t(columns) * std::size_t(ch));
    std::vector<char> direct(std::size_t(columns), 0);
    const Pieces ps = pieces();
    overlapping(*ps, edge.front(), edge.back(), [&](const Piece &p, int64_t, int64_t) {
        summarisePiece(p, level, first, last, edge, acc, out, direct);
        return true;
    });
    for (std::size_t c = 0; c < std::size_t(columns); ++c) {
        if (direct[c])
            continue;
        for (std::size_t k = 0; k < std::size_t(ch); ++k)
            if (const Stats &a = acc[c * std::size_t(ch) + k]; a.count > 0)
                out[c * std::size_t(ch) + k] = columnSummaryOf(a);
    }
}

void SeriesRun::summarisePiece(const Piece &p, int level, double first, double last, const std::vector<int64_t> &edge,
                               std::span<Stats> acc, std::span<ColumnSummary> out, std::vector<char> &direct) const
{
    const std::size_t columns = edge.size() / 2, ch = std::size_t(channels());
    const auto column = [&](std::size_t c) { return acc.subspan(c * ch, ch); };
    // The first column that ends after scan s.
    const auto columnOf = [&](int64_t s) {
        std::size_t lo = 0, hi = columns;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            (edge[2 * mid + 1] <= s ? lo : hi) = mid + (edge[2 * mid + 1] <= s ? 1 : 0);
        }
        return lo;
    };
    if (level > 0 && fromCoarse(p, level)) {
        for (const RunTotals::Entry &e : p.totals->coarse) {
            const int64_t s = p.offset + e.first;
            const std::size_t c = columnOf(s);
            if (c < columns && edge[2 * c] <= s)
                for (std::size_t k = 0; k < ch && k < e.stats.size(); ++k)
                    column(c)[k].add(e.stats[k]);
        }
        return;
    }
    const auto run = open(p);
    if (!run)
        return;
    // Columns wholly within the piece come from its own pyramid where its grid
    // is the series' (always, for scans); the others add up exactly.
    const int64_t wl = level == 0 ? 1 : summaryWidth(level);
    const bool aligned = p.offset % wl == 0;
    std::size_t c0 = columnOf(p.first), c1 = c0;
    while (c1 < columns && edge[2 * c1] < p.end)
        ++c1;
    std::vector<ColumnSummary> own;
    for (std::size_t c = c0; c < c1; ++c) {
        const int64_t a = edge[2 * c], b = edge[2 * c + 1];
        if (aligned && a >= p.first && b <= p.end && a < b) {
            if (own.empty()) {
                own.resize(columns * ch);
                run->summarise(first - double(p.offset), last - double(p.offset), int(columns), own);
            }
            std::copy_n(own.begin() + std::ptrdiff_t(c * ch), ch, out.begin() + std::ptrdiff_t(c * ch));
            direct[c] = 1;
            continue;
        }
        const int64_t from = std::max(a, p.first), to = std::min(b, p.end);
        if (from < to) {
            const auto s = run->sums(from - p.offset, to - p.offset);
            for (std::size_t k = 0; k < ch && k < s.size(); ++k)
                column(c)[k].add(s[k]);
        }
    }
}

void SeriesRun::addEdge(const Piece &p, int channel, int64_t a, int64_t b, LevelSpans &out) const
{
    if (a >= b)
        return;
    const auto run = open(p);
    if (!run)
        return;
    const auto s = run->sums(a - p.offset, b - p.offset);
    if (std::size_t(channel) < s.size() && s[std::size_t(channel)].count > 0)
        out.spans.push_back({a, b, s[std::size_t(channel)].count, s[std::size_t(channel)].min,
                             s[std::size_t(channel)].max});
}

void SeriesRun::addSpans(const Piece &p, int level, int channel, int64_t a, int64_t b, LevelSpans &out,
                         bool &stop) const
{
    if (fromCoarse(p, level)) {
        // The coarse entries wholly within [a, b); what lies outside them at
        // either end is read from the file.
        // The file's last entry ends with the file.
        const int64_t cw = p.totals->widths[std::size_t(p.totals->coarseLevel)];
        const int64_t inFirst = p.offset + ceilTo(a - p.offset, cw);
        const int64_t inEnd = std::max(inFirst, b == p.end ? p.end : p.offset + floorTo(b - p.offset, cw));
        addEdge(p, channel, a, std::min(b, inFirst), out);
        for (const RunTotals::Entry &e : p.totals->coarse) {
            const int64_t s = p.offset + e.first, end = std::min(s + cw, p.end);
            if (s >= inFirst && end <= inEnd && std::size_t(channel) < e.stats.size())
                out.spans.push_back({s, end, e.stats[std::size_t(channel)].count, e.stats[std::size_t(channel)].min,
                                     e.stats[std::size_t(channel)].max});
        }
        addEdge(p, channel, std::max(inEnd, inFirst), b, out);
        out.readyEnd = b;
        return;
    }
    const auto run = open(p);
    if (!run) {
        out.readyEnd = b; // unreadable: nothing there, and readError says why
        return;
    }
    const int64_t w = summaryWidth(level);
    const int64_t la = a - p.offset, lb = b - p.offset;
    // Nothing lies past the file's end: its last span, cut short there, counts whole.
    const int64_t ia = ceilTo(la, w), ib = b == p.end ? ceilTo(lb, w) : floorTo(lb, w);
    if (ia >= ib) {
        addEdge(p, channel, a, b, out);
        out.readyEnd = b;
        return;
    }
    addEdge(p, channel, a, p.offset + ia, out);
    const LevelSpans own = run->levelSpans(level, channel, ia, ib);
    for (SpanExtremes s : own.spans) {
        s.first += p.offset;
        s.end = std::min(s.end + p.offset, p.end);
        out.spans.push_back(s);
    }
    if (own.readyEnd < ib) {
        out.readyEnd = std::max(a, p.offset + own.readyEnd);
        stop = true;
        return;
    }
    addEdge(p, channel, std::min(b, p.offset + ib), b, out);
    out.readyEnd = b;
}

// Spans need not lie on the level's grid here: a piece's own grid starts at
// its offset, and where a file ends a span is cut short. Each listed span is
// exact; a stretch not listed before readyEnd holds no scan.
LevelSpans SeriesRun::levelSpans(int level, int channel, int64_t first, int64_t end) const
{
    LevelSpans out;
    out.readyEnd = first;
    if (level < 1 || level > summaryLevels() || channel < 0 || channel >= channels() || first >= end)
        return out;
    bool stop = false;
    const Pieces ps = pieces();
    overlapping(*ps, first, end, [&](const Piece &p, int64_t a, int64_t b) {
        addSpans(p, level, channel, a, b, out, stop);
        return !stop;
    });
    if (!stop)
        out.readyEnd = std::max(out.readyEnd, std::min(end, scanCount()));
    return out;
}

std::vector<ScanGap> SeriesRun::gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const
{
    std::vector<ScanGap> all;
    total = 0;
    const auto add = [&](ScanGap g) {
        g.first = std::max(g.first, first);
        g.end = std::min(g.end, end);
        if (g.first >= g.end)
            return;
        if (!all.empty() && all.back().end == g.first) {
            all.back().end = g.end; // one hole, across a file's edge
            return;
        }
        ++total;
        if (all.size() <= most)
            all.push_back(g);
    };
    int64_t prevEnd = 0;
    const Pieces ps = pieces();
    for (const Piece &p : *ps) {
        if (p.end <= first || prevEnd >= end) {
            prevEnd = p.end;
            continue;
        }
        add({prevEnd, p.first});
        if (p.info.holes > 0 && p.first < end)
            if (const auto run = open(p)) {
                int64_t t = 0;
                for (ScanGap g : run->gaps(std::max(first, p.first) - p.offset, std::min(end, p.end) - p.offset,
                                           most, t))
                    add({g.first + p.offset, g.end + p.offset});
            }
        prevEnd = p.end;
    }
    if (all.size() > most)
        all.resize(most);
    return all;
}

std::vector<RecordedMarker> SeriesRun::markers() const
{
    std::vector<RecordedMarker> out;
    const Pieces ps = pieces();
    for (const Piece &p : *ps) {
        std::vector<RecordedMarker> own;
        if (p.totals && p.first == p.offset) {
            own = p.totals->markers;
        } else if (const auto run = open(p)) {
            own = run->markers();
        }
        for (RecordedMarker &m : own) {
            m.scan += p.offset;
            if (m.scan >= p.first && m.scan <= p.end)
                out.push_back(std::move(m));
        }
    }
    return out;
}

std::vector<RecordedDigital> SeriesRun::digital(int64_t firstScan, int64_t lastScan) const
{
    std::vector<RecordedDigital> out;
    const Pieces ps = pieces();
    overlapping(*ps, firstScan, lastScan, [&](const Piece &p, int64_t a, int64_t b) {
        if (const auto run = open(p))
            for (RecordedDigital d : run->digital(a - p.offset, b - p.offset)) {
                d.scan += p.offset;
                out.push_back(d);
            }
        return true;
    });
    return out;
}

std::vector<RecordedDigital> SeriesRun::digitalThinned(int64_t firstScan, int64_t lastScan, std::size_t most) const
{
    std::vector<RecordedDigital> out;
    if (most == 0 || lastScan <= firstScan)
        return out;
    const double share = double(most) / double(lastScan - firstScan);
    const Pieces ps = pieces();
    overlapping(*ps, firstScan, lastScan, [&](const Piece &p, int64_t a, int64_t b) {
        const auto want = std::max<std::size_t>(1, std::size_t(std::ceil(share * double(b - a))));
        if (const auto run = open(p))
            for (RecordedDigital d : run->digitalThinned(a - p.offset, b - p.offset, want)) {
                d.scan += p.offset;
                out.push_back(d);
            }
        return true;
    });
    return out;
}

} // namespace adcard::series
