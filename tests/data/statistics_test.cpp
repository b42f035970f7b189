// The statistics accumulator against sums worked out here scan by scan: the
// fast reduction (eight codes at a time where the channels divide eight),
// parts merged, and a summary taken back in.
#include "data/statistics.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace adcard {
namespace {

using ::PrintTo;

struct StatsRow {
    const char *name;
    int channels;
    int64_t scans;
    int64_t split; // where the scans are cut in two parts
};

class Accumulator : public ::testing::TestWithParam<StatsRow> {};

// Codes over the whole int16 range, its ends included.
int16_t codeAt(std::size_t i)
{
    if (i % 11 == 3)
        return i % 2 ? INT16_MIN : INT16_MAX;
    return static_cast<int16_t>((i * 2654435761U) >> 16);
}

TEST_P(Accumulator, EqualsSumsTakenScanByScan)
{
    const StatsRow &row = GetParam();
    const auto ch = std::size_t(row.channels);
    std::vector<int16_t> codes(ch * std::size_t(row.scans));
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = codeAt(i);

    std::vector<Stats> whole(ch), parts(ch), second(ch), noSquares(ch);
    addScans(whole, codes.data(), row.scans);
    addScans(parts, codes.data(), row.split);
    addScans(second, codes.data() + std::size_t(row.split) * ch, row.scans - row.split);
    addScans(noSquares, codes.data(), row.scans, false);
    for (std::size_t c = 0; c < ch; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        Stats want;
        double twoPass = 0;
        for (int64_t k = 0; k < row.scans; ++k)
            want.add(codes[std::size_t(k) * ch + c]);
        for (int64_t k = 0; k < row.scans; ++k)
            twoPass += std::pow(codes[std::size_t(k) * ch + c] - want.mean(), 2);
        parts[c].add(second[c]);
        for (const Stats *got : {&whole[c], &parts[c]}) {
            EXPECT_EQ(got->count, want.count);
            EXPECT_EQ(got->min, want.min);
            EXPECT_EQ(got->max, want.max);
            EXPECT_EQ(got->sum, want.sum);
            EXPECT_EQ(got->sumSq, want.sumSq);
        }
        EXPECT_EQ(noSquares[c].sum, want.sum);
        EXPECT_EQ(noSquares[c].sumSq, 0);
        if (row.scans == 0) {
            EXPECT_EQ(whole[c].range().count, 0);
            continue;
        }
        const double sd = std::sqrt(twoPass / double(row.scans));
        EXPECT_NEAR(whole[c].sd(), sd, 1e-9 * (1 + sd));
        const RangeStats r = whole[c].range();
        EXPECT_EQ(r.min, want.min);
        EXPECT_DOUBLE_EQ(r.rms, std::sqrt(double(want.sumSq) / double(row.scans)));
        // Kept as a file keeps it (float mean and sd), then taken back in.
        Stats back;
        back.addSummary(want.count, want.min, want.max, float(want.mean()), float(whole[c].sd()));
        EXPECT_NEAR(back.mean(), want.mean(), 1e-5 * (1 + std::fabs(want.mean())));
        EXPECT_NEAR(back.rms(), whole[c].rms(), 1e-5 * (1 + whole[c].rms()));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Accumulator,
                         ::testing::Values(StatsRow{"one_channel", 1, 37, 5}, StatsRow{"two_channels", 2, 9, 4},
                                           StatsRow{"three_channels_no_lanes", 3, 11, 2},
                                           StatsRow{"four_channels_lanes_and_a_tail", 4, 40003, 33333},
                                           StatsRow{"five_channels", 5, 7, 7}, StatsRow{"eight_channels", 8, 3, 1},
                                           StatsRow{"no_scans", 4, 0, 0}),
                         kRowName);

} // namespace
} // namespace adcard
