// The summary pyramid against a reduction of the raw scans computed here,
// independently: pure, at small widths so that every level fills, and in the
// file, through the writer, read back through HDF5.
#include "recording/recording_writer.h"
#include "tests/recording/recording_support.h"
#include "tests/support/row_name.h"

#include <cmath>
#include <map>
#include <numeric>

namespace adcard::testing {
namespace {

using ::PrintTo;

struct Expected {
    int64_t count = 0;
    std::vector<int16_t> min, max;
    std::vector<int64_t> sum, sumSq;
};

// Entry start -> its statistics, over the scans present in `blocks`.
std::map<int64_t, Expected> reduce(const std::map<int64_t, std::vector<int16_t>> &blocks, int s, int c, int64_t width)
{
    std::map<int64_t, std::vector<std::vector<int16_t>>> byEntry; // start -> channel -> codes
    for (const auto &[index, codes] : blocks)
        for (int k = 0; k < s * c; ++k) {
            auto &e = byEntry[(index * s + k / c) / width * width];
            e.resize(std::size_t(c));
            e[std::size_t(k % c)].push_back(codes[std::size_t(k)]);
        }
    std::map<int64_t, Expected> out;
    for (const auto &[start, channels] : byEntry)
        for (const auto &v : channels) {
            Expected &x = out[start];
            int64_t sq = 0;
            for (int16_t code : v)
                sq += int64_t{code} * code;
            x.count = std::ssize(v);
            x.min.push_back(*std::min_element(v.begin(), v.end()));
            x.max.push_back(*std::max_element(v.begin(), v.end()));
            x.sum.push_back(std::accumulate(v.begin(), v.end(), int64_t{0}));
            x.sumSq.push_back(sq);
        }
    return out;
}

template <typename Entry>
void expectLevel(const std::vector<Entry> &got, const std::map<int64_t, Expected> &want, int level)
{
    ASSERT_EQ(got.size(), want.size()) << "level " << level;
    auto w = want.begin();
    for (std::size_t i = 0; i < got.size(); ++i, ++w) {
        const Entry &e = got[i];
        ASSERT_EQ(e.start, w->first) << "level " << level << " entry " << i;
        EXPECT_EQ(e.count, w->second.count) << "level " << level << " at " << e.start;
        EXPECT_EQ(std::vector<int16_t>(e.min.begin(), e.min.end()), w->second.min) << "level " << level;
        EXPECT_EQ(std::vector<int16_t>(e.max.begin(), e.max.end()), w->second.max) << "level " << level;
        // Exact: a mean or RMS over many entries is only as good as these.
        EXPECT_EQ(std::vector<int64_t>(e.sum.begin(), e.sum.end()), w->second.sum) << "level " << level;
        EXPECT_EQ(std::vector<int64_t>(e.sumSq.begin(), e.sumSq.end()), w->second.sumSq) << "level " << level;
    }
}

// Blocks of a run: `pattern` says for each index whether it is present ('b')
// or a gap ('-'); the last present one ends the run mid-entry at every level.
std::map<int64_t, std::vector<int16_t>> blocksOf(std::string_view pattern, int s, int c)
{
    std::map<int64_t, std::vector<int16_t>> out;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == 'b')
            out[int64_t(i)] = testBlock(int64_t(i), std::size_t(s * c));
    return out;
}

struct PyramidRow {
    const char *name;
    int base, factor, levels, scansPerBlock, channels;
    std::string pattern;
};

class SummaryPyramid : public ::testing::TestWithParam<PyramidRow> {};

TEST_P(SummaryPyramid, EveryLevelEqualsAReductionOfTheRawScans)
{
    const PyramidRow &row = GetParam();
    const auto blocks = blocksOf(row.pattern, row.scansPerBlock, row.channels);
    PyramidBuilder b(row.channels, {row.base, row.factor, row.levels});
    std::vector<EntryTable> out;
    for (const auto &[index, codes] : blocks) {
        b.advanceTo(index * row.scansPerBlock);
        b.addScans(index * row.scansPerBlock, codes.data(), row.scansPerBlock);
    }
    b.finish();
    b.take(out);
    ASSERT_EQ(out.size(), std::size_t(row.levels));
    int64_t width = row.base;
    for (int level = 1; level <= row.levels; ++level, width *= row.factor) {
        std::vector<StoredEntry> mine;
        const EntryTable &t = out[std::size_t(level - 1)];
        for (std::size_t i = 0; i < t.size(); ++i) {
            const EntryRef e = t.at(i);
            const auto ch = std::size_t(row.channels);
            mine.push_back({0, e.span * width, e.count, {e.min, e.min + ch}, {e.max, e.max + ch},
                            {e.sum, e.sum + ch}, {e.sumSq, e.sumSq + ch}});
        }
        expectLevel(mine, reduce(blocks, row.scansPerBlock, row.channels, width), level);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SummaryPyramid,
    ::testing::Values(PyramidRow{"aligned", 4, 2, 6, 4, 2, std::string(40, 'b')},
                      PyramidRow{"blocks_across_entries", 4, 3, 5, 7, 3, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
                      PyramidRow{"gaps_and_whole_empty_entries", 4, 2, 7, 3, 1, "b-bb----------bb-b---b---------bb-b"},
                      PyramidRow{"first_blocks_missing", 8, 2, 4, 5, 2, "----bbb-b"},
                      PyramidRow{"blocks_wider_than_entries", 2, 2, 8, 9, 2, "bb-bbb--b"}),
    kRowName);

// The file: every level of every run read back, runs told apart, gaps and
// the runs' last partial entries included; summary_first finds each run's.
TEST(SummaryFile, EveryLevelOfEveryRunMatchesTheRawScans)
{
    const std::string path = scratchDir("summary-file") + "/a.h5";
    AcqSettings s = panelSettings();
    s.ScansPerBlock = 700;
    s.ChannelCount = 3;
    const std::vector<std::string> runs = {std::string(300, 'b') + "--" + std::string(60, 'b'), "-bb-b"};
    {
        RecordingWriter w(std::make_unique<RecordingFile>(path, false), "lib", "v", {});
        const auto now = RecordingWriter::Clock::now();
        for (const std::string &pattern : runs) {
            w.beginRun(s, 1000, now);
            for (const auto &[index, codes] : blocksOf(pattern, 700, 3)) {
                w.onBlock(index, 0, codes);
                w.onTickEnd({.timeNs = 2000}, now);
            }
            w.endRun(3000, now);
        }
        w.close(4000, now);
    }
    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened());
    ASSERT_EQ(r.runs(), runs.size());
    const auto firsts = r.column<int64_t>("runs", "summary_first", format::kPyramid.levels);
    int64_t width = format::kPyramid.base;
    for (int level = 1; level <= format::kPyramid.levels; ++level, width *= format::kPyramid.factor) {
        const auto stored = r.summaries(level);
        for (std::size_t run = 0; run < runs.size(); ++run) {
            const auto first = std::size_t(firsts[run * 8 + std::size_t(level - 1)]);
            const auto end = run + 1 < runs.size() ? std::size_t(firsts[(run + 1) * 8 + std::size_t(level - 1)]) : stored.size();
            ASSERT_LE(first, end);
            std::vector<StoredEntry> mine(stored.begin() + std::ptrdiff_t(first), stored.begin() + std::ptrdiff_t(end));
            for (const StoredEntry &e : mine)
                EXPECT_EQ(e.run, int32_t(run + 1));
            expectLevel(mine, reduce(blocksOf(runs[run], 700, 3), 700, 3, width), level);
        }
    }
}

} // namespace
} // namespace adcard::testing
