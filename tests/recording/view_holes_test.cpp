// The holes a view shows, to its pixel: every real gap falls within one of
// them, none lies where no scan is missing by more than the scale, and a
// wide view reads no more of the run than its columns do, however many
// holes the run has.
#include "recording/run_pyramid.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace adcard::testing {
namespace {

using ::PrintTo;

// A run in memory, whose summaries are worked out from which blocks are
// present, counting what is read: the entries visited, and the scans the
// exact search over the rows was asked to cover.
class CountingRun final : public PyramidRun {
public:
    CountingRun(std::vector<char> present, int64_t scansPerBlock, int64_t readyScans)
        : present_(std::move(present)), ready_(readyScans)
    {
        info_.channels = 1;
        info_.scansPerBlock = int32_t(scansPerBlock);
        info_.blocks = std::count(present_.begin(), present_.end(), 1);
        info_.scans = int64_t(present_.size()) * scansPerBlock;
        setGeometry(16, 4, 6); // spans of 16, 64, ... 16,384 scans
    }
    const RecordedRunInfo &info() const override { return info_; }
    std::vector<RecordedMarker> markers() const override { return {}; }
    std::vector<RecordedDigital> digital(int64_t, int64_t) const override { return {}; }
    bool forEachScan(int64_t, int64_t, const std::function<bool(int64_t, std::span<const int16_t>)> &) const override
    {
        return true;
    }
    double summaryProgress() const override { return 1.0; }
    std::vector<ScanGap> gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const override
    {
        exactScans += std::max<int64_t>(0, end - first);
        std::vector<ScanGap> out;
        total = 0;
        for (int64_t k = std::max<int64_t>(0, first); k < std::min(end, info_.scans); ++k) {
            if (present(k))
                continue;
            if (!out.empty() && out.back().end == k) {
                ++out.back().end;
            } else {
                ++total;
                if (out.size() < most)
                    out.push_back({k, k + 1});
            }
        }
        return out;
    }
    bool present(int64_t scan) const { return present_[std::size_t(scan / info_.scansPerBlock)] != 0; }

    mutable int64_t entriesRead = 0, exactScans = 0;

protected:
    // Whole spans; the last, partial one too once the run has ended.
    int64_t readySpans(int level) const override
    {
        const int64_t w = width(level);
        return ready_ >= info_.scans ? (info_.scans + w - 1) / w : ready_ / w;
    }
    void forEntries(int level, int64_t firstSpan, int64_t endSpan,
                    const std::function<void(const EntryRef &)> &fn) const override
    {
        static const int16_t code = 0;
        static const int64_t sum = 0;
        for (int64_t j = firstSpan; j < endSpan; ++j) {
            int64_t count = 0;
            for (int64_t k = j * width(level); k < std::min((j + 1) * width(level), info_.scans); ++k)
                count += present(k) ? 1 : 0;
            ++entriesRead;
            if (count > 0)
                fn(EntryRef{j, count, &code, &code, &sum, &sum});
        }
    }
    void forStretches(int64_t, int64_t, const StretchFn &) const override {}

private:
    RecordedRunInfo info_;
    std::vector<char> present_;
    int64_t ready_;
};

struct HolesRow {
    const char *name;
    int64_t blocks;
    std::vector<int64_t> missing; // block indices; every `every`-th block too
    int64_t every;
    int64_t readyBlocks; // blocks the summaries cover; -1: all
    int64_t first, end, scale;
    bool exactOnly; // narrower than any span: the rows answer alone
};

class ViewHoles : public ::testing::TestWithParam<HolesRow> {};

TEST_P(ViewHoles, CoverEveryGapAndNothingFartherThanTheScale)
{
    const HolesRow &row = GetParam();
    constexpr int64_t s = 10;
    std::vector<char> present(std::size_t(row.blocks), 1);
    for (int64_t b : row.missing)
        present[std::size_t(b)] = 0;
    for (int64_t b = row.every - 1; row.every > 0 && b < row.blocks - 1; b += row.every)
        present[std::size_t(b)] = 0;
    const int64_t ready = row.readyBlocks < 0 ? row.blocks * s : row.readyBlocks * s;
    const CountingRun run(present, s, ready);

    const auto shown = run.gapsAtScale(row.first, row.end, row.scale, 100000);
    const int64_t entries = run.entriesRead, exact = run.exactScans;
    run.exactScans = 0;
    int64_t total = 0;
    const auto real = run.gaps(row.first, row.end, 100000, total);

    // Each scan's distance to the nearest missing one.
    std::vector<int64_t> distance(std::size_t(run.scanCount()), INT64_MAX / 2);
    for (int64_t k = 0, last = -INT64_MAX / 2; k < run.scanCount(); ++k) {
        last = run.present(k) ? last : k;
        distance[std::size_t(k)] = k - last;
    }
    for (int64_t k = run.scanCount() - 1, next = INT64_MAX / 2; k >= 0; --k) {
        next = run.present(k) ? next : k;
        distance[std::size_t(k)] = std::min(distance[std::size_t(k)], next - k);
    }
    for (const ScanGap &g : real) {
        const bool covered = std::any_of(shown.begin(), shown.end(),
                                         [&](const ScanGap &h) { return h.first <= g.first && g.end <= h.end; });
        EXPECT_TRUE(covered) << "gap " << g.first << "–" << g.end << " not shown";
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const ScanGap &h = shown[i];
        EXPECT_TRUE(row.first <= h.first && h.first < h.end && h.end <= row.end) << h.first << "–" << h.end;
        if (i > 0) {
            EXPECT_LT(shown[i - 1].end, h.first) << "touching holes come as one";
        }
        // Each scan of a hole lies within the scale of a missing one.
        for (int64_t k = h.first; k < h.end; ++k)
            ASSERT_LT(distance[std::size_t(k)], row.scale) << "scan " << k << " shown as a hole, far from any";
    }
    if (row.exactOnly) {
        EXPECT_EQ(entries, 0);
        EXPECT_EQ(shown.size(), real.size());
        return;
    }
    // What the view's columns read: about one entry a scale, at most a
    // fourth (the levels' factor) of one a scale finer.
    const int64_t columns = (row.end - row.first) / row.scale + 2;
    EXPECT_LE(entries, 4 * columns);
    EXPECT_GT(entries, 0);
    // The rows only where the summaries do not answer yet.
    const int64_t unready = std::max<int64_t>(0, std::min(row.end, run.scanCount()) - ready);
    EXPECT_LE(exact, unready + 16 * 1024) << "the rows read where the summaries answer";
    if (unready == 0) {
        EXPECT_EQ(exact, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ViewHoles,
    ::testing::Values(
        // A whole run of thousands of holes at a few hundred columns.
        HolesRow{"whole_run_many_holes", 50000, {}, 97, -1, 0, 500000, 1000, false},
        HolesRow{"whole_run_long_gaps", 50000, {100, 101, 102, 30000, 30001, 49998}, 0, -1, 0, 500000, 2000, false},
        // The first and last blocks missing; the last span partial.
        HolesRow{"ends_missing", 4003, {0, 1, 4001}, 0, -1, 0, 40030, 100, false},
        // A view that starts and ends within spans.
        HolesRow{"view_within_spans", 20000, {}, 13, -1, 12345, 187654, 700, false},
        // Holes closer than the scale merge, farther ones stay apart.
        HolesRow{"merge_close_only", 2000, {10, 12, 900, 1500}, 0, -1, 0, 20000, 64, false},
        // A live run: the summaries lag; its newest scans come from the rows.
        HolesRow{"summaries_lag", 20000, {19990, 19995}, 51, 19000, 0, 200000, 900, false},
        // Zoomed in past the finest span: exact.
        HolesRow{"narrower_than_a_span", 3000, {1000, 1002}, 0, -1, 9990, 10040, 8, true},
        HolesRow{"no_holes", 10000, {}, 0, -1, 0, 100000, 300, false}),
    kRowName);

} // namespace
} // namespace adcard::testing
