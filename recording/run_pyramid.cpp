#include "recording/run_pyramid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace adcard {

namespace {

// Channel counts that divide 8: eight codes at a time, code j of each eight
// being channel j % channels, so that the compiler can use vector
// instructions. Sums go through 32-bit lanes, emptied before they could
// overflow; squares, which only exact statistics need, through 64-bit ones.
template <bool Squares>
void addLanes(std::span<ChannelAcc> acc, const int16_t *codes, int64_t scans)
{
    const std::size_t ch = acc.size();
    const int64_t n = scans * int64_t(ch);
    int16_t lo[8], hi[8];
    int64_t sum[8] = {}, sq[8] = {};
    for (std::size_t j = 0; j < 8; ++j) {
        lo[j] = acc[j % ch].min;
        hi[j] = acc[j % ch].max;
    }
    const int64_t whole = n - n % 8;
    for (int64_t i = 0; i < whole;) {
        const int64_t stop = std::min(whole, i + 8 * 4096);
        int32_t part[8] = {};
        for (; i < stop; i += 8)
            for (std::size_t j = 0; j < 8; ++j) {
                const int16_t v = codes[i + int64_t(j)];
                lo[j] = std::min(lo[j], v);
                hi[j] = std::max(hi[j], v);
                part[j] += v;
                if constexpr (Squares)
                    sq[j] += int32_t(v) * v;
            }
        for (std::size_t j = 0; j < 8; ++j)
            sum[j] += part[j];
    }
    for (int64_t i = whole; i < n; ++i) {
        const std::size_t j = std::size_t(i % 8);
        const int16_t v = codes[i];
        lo[j] = std::min(lo[j], v);
        hi[j] = std::max(hi[j], v);
        sum[j] += v;
        sq[j] += int32_t(v) * v;
    }
    for (std::size_t k = 0; k < ch; ++k)
        acc[k].count += scans;
    for (std::size_t j = 0; j < 8; ++j) {
        ChannelAcc &a = acc[j % ch];
        a.min = std::min(a.min, lo[j]);
        a.max = std::max(a.max, hi[j]);
        a.sum += double(sum[j]);
        a.sumSq += double(sq[j]);
    }
}

// Raw views of a frame reduce half a million scans.
void addCodes(std::span<ChannelAcc> acc, const int16_t *codes, int64_t scans, bool squares = true)
{
    const std::size_t ch = acc.size();
    if (ch > 0 && 8 % ch == 0)
        return squares ? addLanes<true>(acc, codes, scans) : addLanes<false>(acc, codes, scans);
    for (std::size_t k = 0; k < ch; ++k) {
        int lo = acc[k].min, hi = acc[k].max;
        int64_t sum = 0, sq = 0;
        const int16_t *p = codes + k;
        for (int64_t i = 0; i < scans; ++i, p += ch) {
            const int v = *p;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            sum += v;
            sq += int64_t(v) * v;
        }
        acc[k].count += scans;
        acc[k].min = int16_t(lo);
        acc[k].max = int16_t(hi);
        acc[k].sum += double(sum);
        acc[k].sumSq += double(sq);
    }
}

void addEntry(std::span<ChannelAcc> acc, const EntryRef &e)
{
    for (std::size_t k = 0; k < acc.size(); ++k)
        acc[k].addEntry(e.count, e.min[k], e.max[k], e.mean[k], e.sd[k]);
}

int64_t ceilDiv(int64_t a, int64_t b)
{
    return a / b + (a % b > 0 ? 1 : 0);
}

} // namespace

void EntryTable::push(int64_t s, std::span<const ChannelAcc> acc)
{
    const double n = double(acc[0].count);
    span.push_back(s);
    count.push_back(acc[0].count);
    for (const ChannelAcc &a : acc) {
        const double m = a.sum / n;
        min.push_back(a.min);
        max.push_back(a.max);
        mean.push_back(float(m));
        sd.push_back(float(std::sqrt(std::max(0.0, a.sumSq / n - m * m))));
    }
}

void EntryTable::clear()
{
    span.clear();
    count.clear();
    min.clear();
    max.clear();
    mean.clear();
    sd.clear();
}

void PyramidRun::setGeometry(int64_t base, int64_t factor, int levels)
{
    widths_.assign(1, 1);
    int64_t w = base;
    for (int l = 1; l <= levels && base > 1 && factor > 1 && w <= (int64_t{1} << 50); ++l, w *= factor)
        widths_.push_back(w);
}

void PyramidRun::addSpans(int level, int64_t first, int64_t end, std::span<ChannelAcc> acc, int64_t &budget,
                          bool squares) const
{
    if (level == 0) {
        end = std::min(end, scanCount());
        if (first >= end || end - first > budget)
            return;
        budget -= end - first;
        forStretches(first, end, [&](int64_t, const int16_t *codes, int64_t n) { addCodes(acc, codes, n, squares); });
        return;
    }
    if (first >= end)
        return;
    const int64_t ready = readySpans(level);
    if (first < ready)
        forEntries(level, first, std::min(end, ready), [&](const EntryRef &e) { addEntry(acc, e); });
    if (end > ready) {
        const int64_t f = width(level) / width(level - 1);
        addSpans(level - 1, std::max(first, ready) * f, end * f, acc, budget, squares);
    }
}

void PyramidRun::addExact(int64_t first, int64_t end, int level, std::span<ChannelAcc> acc) const
{
    if (first >= end)
        return;
    if (level == 0) {
        forStretches(first, end, [&](int64_t, const int16_t *codes, int64_t n) { addCodes(acc, codes, n); });
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
    addSpans(level, j0, j1, acc, unlimited, true);
    addExact(j1 * w, end, level - 1, acc);
}

void PyramidRun::summarise(double first, double last, int columns, std::span<ColumnSummary> out) const
{
    std::fill(out.begin(), out.end(), ColumnSummary{});
    const int ch = channels();
    if (ch <= 0 || columns <= 0 || !std::isfinite(first) || !std::isfinite(last) || !(last > first))
        return;
    columns = int(std::min<std::size_t>(std::size_t(columns), out.size() / std::size_t(ch)));
    if (columns == 0)
        return;
    const double w = (last - first) / columns;
    const int64_t scans = scanCount();
    // Kept from frame to frame: fresh pages for every redraw cost more than
    // the reduction of a zoomed-out frame.
    thread_local std::vector<ChannelAcc> acc;
    thread_local std::vector<int64_t> edge;
    acc.assign(std::size_t(columns) * std::size_t(ch), ChannelAcc{});
    auto column = [&](int c) {
        return std::span<ChannelAcc>(acc).subspan(std::size_t(c) * std::size_t(ch), std::size_t(ch));
    };
    // Far outside the run there is nothing to read, and doubles beyond
    // 2^62 do not convert.
    auto clampScan = [&](double s) { return int64_t(std::clamp(std::floor(s), 0.0, double(scans))); };

    const auto lock = lockLevels();
    int level = 0;
    for (int l = 1; l <= levels(); ++l)
        if (double(width(l)) <= w)
            level = l;

    if (level == 0) {
        // Columns a level-1 entry would not fit: the scans themselves.
        for (int c = 0; c < columns; ++c) {
            const double a = std::floor(first + c * w);
            double b = std::floor(first + (c + 1) * w);
            if (b <= a)
                b = a + 1;
            const int64_t from = clampScan(a);
            const int64_t to = clampScan(b);
            if (from < to)
                forStretches(from, to,
                             [&](int64_t, const int16_t *codes, int64_t n) { addCodes(column(c), codes, n, false); });
        }
    } else {
        // Column edges move to the level's grid, so that each entry falls
        // into exactly one column.
        const int64_t wl = width(level);
        const int64_t spanEnd = ceilDiv(scans, wl);
        edge.resize(std::size_t(columns) + 1);
        for (int c = 0; c <= columns; ++c)
            edge[std::size_t(c)] =
                int64_t(std::clamp(std::round((first + c * w) / double(wl)), 0.0, double(spanEnd)));
        const int64_t ready = std::min(readySpans(level), spanEnd);
        const int64_t to = std::min(edge.back(), ready);
        if (edge.front() < to) {
            std::size_t c = 0;
            forEntries(level, edge.front(), to, [&](const EntryRef &e) {
                while (c < std::size_t(columns) && e.span >= edge[c + 1])
                    ++c;
                if (c < std::size_t(columns) && e.span >= edge[c])
                    addEntry(column(int(c)), e);
            });
        }
        int64_t budget = rawBudget();
        const int64_t f = wl / width(level - 1);
        for (int c = 0; c < columns; ++c) {
            const int64_t from = std::max(edge[std::size_t(c)], ready);
            const int64_t end = edge[std::size_t(c) + 1];
            if (from < end)
                addSpans(level - 1, from * f, end * f, column(c), budget, false);
        }
    }

    for (std::size_t i = 0; i < acc.size(); ++i) {
        const ChannelAcc &a = acc[i];
        if (a.count > 0)
            out[i] = {a.min, a.max, float(a.sum / double(a.count)), a.count};
    }
}

std::vector<RangeStats> PyramidRun::stats(int64_t firstScan, int64_t lastScan) const
{
    const int ch = std::max(0, channels());
    std::vector<ChannelAcc> acc(std::size_t(ch), ChannelAcc{});
    const int64_t from = std::max<int64_t>(firstScan, 0);
    const int64_t to = std::min(lastScan, scanCount());
    if (from < to) {
        const auto lock = lockLevels();
        addExact(from, to, levels(), acc);
    }
    std::vector<RangeStats> out(static_cast<std::size_t>(ch));
    for (std::size_t k = 0; k < acc.size(); ++k) {
        const ChannelAcc &a = acc[k];
        if (a.count == 0)
            continue;
        const double n = double(a.count);
        out[k] = {a.count, double(a.min), double(a.max), a.sum / n, std::sqrt(std::max(0.0, a.sumSq / n))};
    }
    return out;
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

PyramidBuilder::PyramidBuilder(int channels, int64_t base, int64_t factor, int levels)
    : channels_(channels), widths_{1}
{
    for (int64_t w = base, l = 1; l <= levels; ++l, w *= factor)
        widths_.push_back(w);
    span_.assign(widths_.size(), -1);
    acc_.assign(widths_.size(), std::vector<ChannelAcc>(std::size_t(channels)));
    done_.assign(widths_.size() - 1, EntryTable{channels, {}, {}, {}, {}, {}, {}});
}

void PyramidBuilder::close(int level, int64_t nextSpan)
{
    if (span_[std::size_t(level)] == nextSpan)
        return;
    auto &acc = acc_[std::size_t(level)];
    const int64_t span = span_[std::size_t(level)];
    if (span >= 0 && acc[0].count > 0) {
        done_[std::size_t(level) - 1].push(span, acc);
        if (std::size_t(level) + 1 < widths_.size()) {
            close(level + 1, span / (widths_[std::size_t(level) + 1] / widths_[std::size_t(level)]));
            auto &up = acc_[std::size_t(level) + 1];
            for (std::size_t k = 0; k < acc.size(); ++k)
                up[k].add(acc[k]);
        }
    }
    std::fill(acc.begin(), acc.end(), ChannelAcc{});
    span_[std::size_t(level)] = nextSpan;
}

void PyramidBuilder::addScans(int64_t firstScan, const int16_t *codes, int64_t scans)
{
    if (widths_.size() < 2)
        return;
    const int64_t w = widths_[1];
    int64_t s = firstScan;
    for (int64_t i = 0; i < scans;) {
        const int64_t span = s / w;
        close(1, span);
        const int64_t n = std::min(scans - i, (span + 1) * w - s);
        addCodes(acc_[1], codes + i * channels_, n);
        i += n;
        s += n;
    }
    position_ = std::max(position_, s);
}

void PyramidBuilder::advanceTo(int64_t scan)
{
    for (std::size_t l = 1; l < widths_.size(); ++l) {
        const int64_t target = scan / widths_[l];
        if (span_[l] < target)
            close(int(l), target);
    }
    position_ = std::max(position_, scan);
}

void PyramidBuilder::take(std::vector<EntryTable> &tables)
{
    tables.resize(done_.size(), EntryTable{channels_, {}, {}, {}, {}, {}, {}});
    for (std::size_t l = 0; l < done_.size(); ++l) {
        EntryTable &to = tables[l];
        EntryTable &from = done_[l];
        to.span.insert(to.span.end(), from.span.begin(), from.span.end());
        to.count.insert(to.count.end(), from.count.begin(), from.count.end());
        to.min.insert(to.min.end(), from.min.begin(), from.min.end());
        to.max.insert(to.max.end(), from.max.begin(), from.max.end());
        to.mean.insert(to.mean.end(), from.mean.begin(), from.mean.end());
        to.sd.insert(to.sd.end(), from.sd.begin(), from.sd.end());
        from.clear();
    }
}

} // namespace adcard
