// The timer tick: harvesting into the ring, counters, readout and inputs.
#include "acquisition/acquisition.h"
#include "tests/support/fake_view.h"
#include "acquisition/formatting.h"
#include "tests/support/mock_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace adcard {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;
using testing::FakeView;
using testing::MockDriver;

constexpr int kBlockSamples = 4000;
constexpr int16_t kGuard = 0x7777;

class Tick : public ::testing::Test {
protected:
    Tick()
    {
        // State as a successful Start leaves it, without going through the driver.
        dll.settings = AcqSettings{10, 1000, 0, 4, 10000, 0, 1, 20};
        dll.BlockBuf.assign(kBlockSamples + 2, 0);
        dll.HistoryRing.assign(kBlockSamples * 20 + 1, 0);
    }

    // An ADResult that writes block `id`: sample j (1-based) = id * 10 + j % 7,
    // and 0x7777 guards at elements 0 and BlockSamples + 1.
    auto deliver(int id, int32_t result = 1)
    {
        return Invoke([id, result](int16_t *buf) {
            buf[0] = kGuard;
            buf[kBlockSamples + 1] = kGuard;
            if (result == 1)
                for (int j = 1; j <= kBlockSamples; ++j)
                    buf[j] = static_cast<int16_t>(id * 10 + j % 7);
            return result;
        });
    }
    // No sample of deliver() equals the guard, so a guard in the ring means
    // the copy took one of the two guard words.
    bool ringHasGuard() const
    {
        return std::find(dll.HistoryRing.begin(), dll.HistoryRing.end(), kGuard) != dll.HistoryRing.end();
    }
    bool slotHolds(int32_t start, int id) const
    {
        for (int j = 1; j <= kBlockSamples; ++j)
            if (dll.HistoryRing[static_cast<std::size_t>(start + j - 1)] != id * 10 + j % 7)
                return false;
        return true;
    }
    bool slotZero(int32_t start) const
    {
        return std::all_of(dll.HistoryRing.begin() + start, dll.HistoryRing.begin() + start + kBlockSamples,
                           [](int16_t v) { return v == 0; });
    }
    void expectInputs(int16_t p0 = 0, int16_t p1 = 0)
    {
        EXPECT_CALL(driver, Tvo_DI(2, _)).WillOnce(Invoke([this, p0, p1](int32_t, int16_t *states) {
            EXPECT_EQ(states, acq.DIState.data());
            states[0] = p0;
            states[1] = p1;
            return int16_t{1};
        }));
    }

    StrictMock<MockDriver> driver;
    DllDef dll{driver};
    FakeView view;
    Acquisition acq{dll, view};
};

TEST_F(Tick, ZeroCountDoesNothingElse)
{
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(0));
    acq.onTick();
    EXPECT_TRUE(view.captions.empty());
    EXPECT_EQ(acq.BlockCount, 0);
}

TEST_F(Tick, ThreeBlocksWrapAroundTheRingEnd)
{
    dll.RingPos = 72000;
    {
        InSequence seq;
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(3));
        EXPECT_CALL(driver, ADResult(dll.BlockBuf.data())).WillOnce(deliver(1)).WillOnce(deliver(2)).WillOnce(deliver(3));
        expectInputs();
    }
    acq.onTick();
    EXPECT_TRUE(slotHolds(72000, 1));
    EXPECT_TRUE(slotHolds(76000, 2));
    EXPECT_TRUE(slotHolds(0, 3));
    EXPECT_TRUE(slotZero(4000));
    EXPECT_EQ(dll.HistoryRing[80000], 0); // the last element is never written
    EXPECT_EQ(dll.RingPos, 4000);
    EXPECT_EQ(acq.BlockCount, 3);
    EXPECT_EQ(view.caption("lblBlock"), " 3");
    EXPECT_EQ(view.caption("lblptr"), " 4000");
    EXPECT_FALSE(ringHasGuard());
    // Block 3 averages 32.997..33.003 on every channel; one guard word in a
    // channel's mean would add about 30 codes.
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(acq.ChannelCode[c], 33) << c;
        EXPECT_EQ(view.caption("lblAD", c), "-4.921") << c;
    }
    // Order of the tick's caption writes: counters, readout, then inputs.
    const std::vector<std::string> order{"lblBlock", "lblptr", "lblAD(0)", "lblAD(1)", "lblAD(2)",
                                         "lblAD(3)", "lblDI", "lblDI_0", "lblBit", "lblDI_1"};
    EXPECT_EQ(view.log, order);
}

TEST_F(Tick, FailedMiddleFetchIsSkippedButCounted)
{
    dll.RingPos = 8000;
    {
        InSequence seq;
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(3));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(1)).WillOnce(deliver(2, 0)).WillOnce(deliver(3));
        expectInputs();
    }
    acq.onTick();
    EXPECT_TRUE(slotHolds(8000, 1));
    EXPECT_TRUE(slotHolds(12000, 3));
    EXPECT_TRUE(slotZero(16000));
    EXPECT_FALSE(ringHasGuard());
    EXPECT_EQ(dll.RingPos, 16000);
    EXPECT_EQ(acq.BlockCount, 3);
}

TEST_F(Tick, ResultsOtherThanOneCopyNothing)
{
    for (int32_t result : {0, 2, -1}) {
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(5, result));
        expectInputs();
        acq.onTick();
        EXPECT_EQ(dll.RingPos, 0) << result;
        EXPECT_TRUE(slotZero(0)) << result;
    }
    EXPECT_EQ(acq.BlockCount, 3);
}

TEST_F(Tick, EveryFetchFailingStillReadsOutTheBlockBuffer)
{
    dll.RingPos = 40000;
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(2));
    EXPECT_CALL(driver, ADResult(_)).Times(2).WillRepeatedly(Return(0));
    expectInputs();
    acq.onTick();
    EXPECT_EQ(dll.RingPos, 40000);
    EXPECT_TRUE(std::all_of(dll.HistoryRing.begin(), dll.HistoryRing.end(), [](int16_t v) { return v == 0; }));
    EXPECT_EQ(acq.BlockCount, 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(view.caption("lblAD", i), "-5.001") << i; // zeros after a start
}

TEST_F(Tick, NegativeCountOnlyRewritesTheCounters)
{
    acq.BlockCount = 5;
    dll.RingPos = 12000;
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(-1));
    acq.onTick();
    EXPECT_EQ(acq.BlockCount, 4);
    EXPECT_EQ(view.caption("lblBlock"), " 4");
    EXPECT_EQ(view.caption("lblptr"), " 12000");
    EXPECT_EQ(view.captions.size(), 2u);
}

TEST_F(Tick, ReadoutShowsEachChannelsMean)
{
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
    EXPECT_CALL(driver, ADResult(_)).WillOnce(Invoke([](int16_t *buf) {
        buf[0] = kGuard;
        buf[kBlockSamples + 1] = kGuard;
        const int16_t codes[4] = {0, 2049, 3072, 4095};
        for (int k = 0; k < 1000; ++k)
            for (int c = 0; c < 4; ++c)
                buf[1 + k * 4 + c] = codes[c];
        return 1;
    }));
    expectInputs();
    acq.setDecimalSeparator(",");
    acq.onTick();
    EXPECT_EQ(view.caption("lblAD", 0), "-5,001");
    EXPECT_EQ(view.caption("lblAD", 1), ",002");
    EXPECT_EQ(view.caption("lblAD", 2), "2,501");
    EXPECT_EQ(view.caption("lblAD", 3), "4,999");
    EXPECT_EQ(acq.ChannelCode[0], 0);
    EXPECT_EQ(acq.ChannelCode[1], 2049);
    EXPECT_EQ(acq.ChannelCode[2], 3072);
    EXPECT_EQ(acq.ChannelCode[3], 4095);
}

TEST_F(Tick, InputsShowBothPorts)
{
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
    EXPECT_CALL(driver, ADResult(_)).WillOnce(Return(1));
    expectInputs(165, 300);
    acq.onTick();
    EXPECT_EQ(view.caption("lblDI"), "A5  12C");
    EXPECT_EQ(view.caption("lblDI_0"), "A5      1   0   1   0   0   1   0   1");
    EXPECT_EQ(view.caption("lblBit"), bitHeader());
    EXPECT_EQ(view.caption("lblDI_1"), "12C      0   0   1   0   1   1   0   0");
}

TEST_F(Tick, BlockCountSaturatesAndHarvestingGoesOn)
{
    acq.BlockCount = 32766;
    for (int t = 0; t < 25; ++t) {
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(2));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(t)).WillOnce(deliver(t + 100));
        expectInputs();
        acq.onTick();
        ASSERT_EQ(acq.BlockCount, 32767);
        ASSERT_EQ(view.caption("lblBlock"), " 32767");
        ASSERT_EQ(dll.RingPos, (t + 1) * 2 % 20 * kBlockSamples);
    }
    // The last tick wrote blocks 24 and 124 into the two slots before RingPos.
    EXPECT_TRUE(slotHolds(dll.RingPos == 0 ? 72000 : dll.RingPos - 8000, 24));
    EXPECT_FALSE(ringHasGuard());

    acq.BlockCount = -32767;
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(-2));
    acq.onTick();
    EXPECT_EQ(acq.BlockCount, -32768);
    EXPECT_EQ(view.caption("lblBlock"), "-32768");
}

TEST_F(Tick, RingPositionOutsideTheRingRestartsAtZero)
{
    dll.RingPos = 78000; // not a slot boundary: the block would run past the ring
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
    EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(9));
    expectInputs();
    acq.onTick();
    EXPECT_TRUE(slotHolds(0, 9));
    EXPECT_FALSE(ringHasGuard());
    EXPECT_EQ(dll.RingPos, 4000);
    EXPECT_EQ(dll.HistoryRing[80000], 0);
}

TEST_F(Tick, NoFetchIntoABufferTooSmallForTheBlock)
{
    dll.BlockBuf.assign(100, 0);
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
    expectInputs();
    acq.onTick();
    EXPECT_EQ(acq.BlockCount, 1);
    EXPECT_EQ(dll.RingPos, 0);
}

} // namespace
} // namespace adcard
