#include "recording/pyramid_builder.h"

#include <limits>

namespace adcard {

void EntryTable::push(int64_t s, std::span<const Stats> acc)
{
    span.push_back(s);
    count.push_back(acc[0].count);
    for (const Stats &a : acc) {
        min.push_back(a.min);
        max.push_back(a.max);
        sum.push_back(a.sum);
        sumSq.push_back(a.sumSq);
    }
}

void EntryTable::append(const EntryTable &from)
{
    span.insert(span.end(), from.span.begin(), from.span.end());
    count.insert(count.end(), from.count.begin(), from.count.end());
    min.insert(min.end(), from.min.begin(), from.min.end());
    max.insert(max.end(), from.max.begin(), from.max.end());
    sum.insert(sum.end(), from.sum.begin(), from.sum.end());
    sumSq.insert(sumSq.end(), from.sumSq.begin(), from.sumSq.end());
}

void EntryTable::dropFront(std::size_t n)
{
    const auto e = std::ptrdiff_t(n);
    const auto c = std::ptrdiff_t(n * std::size_t(channels));
    span.erase(span.begin(), span.begin() + e);
    count.erase(count.begin(), count.begin() + e);
    min.erase(min.begin(), min.begin() + c);
    max.erase(max.begin(), max.begin() + c);
    sum.erase(sum.begin(), sum.begin() + c);
    sumSq.erase(sumSq.begin(), sumSq.begin() + c);
}

void EntryTable::truncate(std::size_t n)
{
    const std::size_t c = n * std::size_t(channels);
    span.resize(std::min(n, span.size()));
    count.resize(span.size());
    min.resize(std::min(c, min.size()));
    max.resize(min.size());
    sum.resize(min.size());
    sumSq.resize(min.size());
}

PyramidBuilder::PyramidBuilder(int channels, const format::PyramidShape &shape) : channels_(channels), widths_{1}
{
    for (int l = 1; l <= shape.levels; ++l)
        widths_.push_back(shape.width(l));
    span_.assign(widths_.size(), -1);
    acc_.assign(widths_.size(), std::vector<Stats>(std::size_t(channels)));
    done_.assign(widths_.size() - 1, EntryTable{channels, {}, {}, {}, {}, {}, {}});
}

void PyramidBuilder::close(int level, int64_t nextSpan)
{
    const auto l = std::size_t(level);
    if (span_[l] == nextSpan)
        return;
    auto &acc = acc_[l];
    const int64_t span = span_[l];
    if (span >= 0 && acc[0].count > 0) {
        done_[l - 1].push(span, acc);
        if (l + 1 < widths_.size()) {
            close(level + 1, span / (widths_[l + 1] / widths_[l]));
            auto &up = acc_[l + 1];
            for (std::size_t k = 0; k < acc.size(); ++k)
                up[k].add(acc[k]);
        }
    }
    std::fill(acc.begin(), acc.end(), Stats{});
    span_[l] = nextSpan;
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
        adcard::addScans(acc_[1], codes + i * channels_, n);
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

void PyramidBuilder::finish()
{
    const int64_t end = position_;
    advanceTo(std::numeric_limits<int64_t>::max() / 2);
    position_ = end;
}

void PyramidBuilder::take(std::vector<EntryTable> &tables)
{
    tables.resize(done_.size(), EntryTable{channels_, {}, {}, {}, {}, {}, {}});
    for (std::size_t l = 0; l < done_.size(); ++l) {
        tables[l].append(done_[l]);
        done_[l].clear();
    }
}

} // namespace adcard
