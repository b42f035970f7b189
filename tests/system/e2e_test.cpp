// The real window, the real loader and the simulated card, on the offscreen
// platform: blocks harvested, ring contents, readout and the digital loopback.
#include "acquisition/formatting.h"
#include "acquisition/readout.h"
#include "tests/system/system_support.h"

#include <QCoreApplication>

#include <cmath>

namespace adcard::testing {
namespace {

using namespace std::chrono_literals;

// Checks the ring slots written since `fromPos` against the stamped blocks
// `firstSeq`, `firstSeq + 1`, ... and returns how many it checked.
int checkNewSlots(const DllDef &dll, int32_t fromPos, int blocks, uint32_t firstSeq,
                  const sim::SimBlockParams &params)
{
    for (int i = 0; i < blocks; ++i) {
        const int16_t *slot = ringSlot(dll, fromPos, i);
        EXPECT_EQ(stampOf(slot), firstSeq + i) << "slot " << i << " after " << fromPos;
        const auto want = expectedBlock(params, firstSeq + i);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), slot)) << "block " << firstSeq + i;
    }
    return blocks;
}

TEST(EndToEnd, EveryProducedBlockIsCountedAndRingedOnce)
{
    const std::string stats = statsPath("e2e-order");
    SimEnvironment env({{"ADCARD_SIM_SPEED", "20"}, {"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_SEED", "7"},
                        {"ADCARD_SIM_QUEUE", "256"}, {"ADCARD_SIM_STATS", stats}});
    const auto params = fixedParams(7, 3, true);
    Program p;
    p.click("cmdStart");
    ASSERT_TRUE(p.window().timerEnabled());

    uint32_t nextSeq = 0;
    for (int tick = 0; tick < 12; ++tick) {
        ASSERT_TRUE(p.waitForBlocks(1 + tick % 3));
        const int32_t before = p.dll().RingPos;
        const int16_t countBefore = p.acq().BlockCount;
        p.acq().onTick();
        const int got = p.acq().BlockCount - countBefore;
        ASSERT_GE(got, 1 + tick % 3);
        nextSeq += checkNewSlots(p.dll(), before, got, nextSeq, params);
        EXPECT_EQ(p.dll().RingPos, static_cast<int32_t>(nextSeq % 20 * kBlockSamples));
    }
    ASSERT_GT(nextSeq, 20u) << "the ring should have wrapped";
    EXPECT_EQ(p.caption("lblBlock"), QString::fromStdString(counterText(p.acq().BlockCount)));
    EXPECT_EQ(p.caption("lblptr"), QString::fromStdString(counterText(p.dll().RingPos)));

    // The readout matches the card's waveform for the newest block.
    const auto last = expectedBlock(params, nextSeq - 1);
    for (int c = 0; c < 4; ++c) {
        double sum = 0;
        double clean = 0;
        for (int k = 0; k < 1000; ++k) {
            sum += last[static_cast<std::size_t>(k * 4 + c)];
            clean += sim::cleanSample(params, c, uint64_t{nextSeq - 1} * 1000 + static_cast<uint64_t>(k));
        }
        const auto code = static_cast<int32_t>(std::nearbyint(sum / 1000));
        EXPECT_EQ(p.caption(QString("lblAD(%1)").arg(c)),
                  QString::fromStdString(voltsText(codeToVolts(code), p.acq().decimalSeparator())))
            << "channel " << c;
        // Noise of +-3 codes and the stamp in scan 0 move the mean by a few codes at most.
        EXPECT_NEAR(code, clean / 1000, 6.0) << "channel " << c;
    }

    p.click("cmdStop");
    const auto s = readStats(stats);
    EXPECT_EQ(s.at("delivered"), p.acq().BlockCount);
    EXPECT_EQ(s.at("discarded"), 0);
    EXPECT_EQ(s.at("overruns"), 0);
    EXPECT_EQ(s.at("produced"), s.at("delivered") + s.at("flushed"));
}

TEST(EndToEnd, LateTickHarvestsEveryWaitingBlock)
{
    const std::string stats = statsPath("e2e-late");
    SimEnvironment env({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_STATS", stats}});
    const auto params = fixedParams(1, 3, true);
    Program p;
    const int16_t countBefore = p.acq().BlockCount;
    const int32_t posBefore = p.dll().RingPos;
    p.click("cmdStart");
    // The UI thread is busy for a second: about ten blocks pile up.
    std::this_thread::sleep_for(1050ms);
    p.acq().onTick();
    const int got = p.acq().BlockCount - countBefore;
    EXPECT_GE(got, 9);
    EXPECT_LE(got, 20);
    checkNewSlots(p.dll(), posBefore, got, 0, params);
    p.click("cmdStop");
    const auto s = readStats(stats);
    EXPECT_EQ(s.at("delivered"), got);
    EXPECT_EQ(s.at("overruns"), 0);
}

TEST(EndToEnd, OutputGroupZeroLoopsBackToInputPortZero)
{
    SimEnvironment env({{"ADCARD_SIM_SPEED", "5"}});
    Program p;
    p.type("txtswChn", "0");
    p.type("txtSWO_0", "A5");
    p.click("cmdSWO");
    EXPECT_EQ(p.caption("lblDI_0"), "DI0"); // the write changes nothing on screen
    p.click("cmdStart");

    // Let the window's own timer drive the ticks.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (p.caption("lblDI") == "00" && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(p.caption("lblDI_0"), "A5      1   0   1   0   0   1   0   1");
    EXPECT_TRUE(p.caption("lblDI").startsWith("A5  "));
    EXPECT_EQ(p.caption("lblBit"), QString::fromStdString(bitHeader()));

    // A new byte shows on the next tick that brings a block.
    p.type("txtSWO_0", "3c");
    p.click("cmdSWO");
    const auto end2 = std::chrono::steady_clock::now() + 10s;
    while (!p.caption("lblDI_0").startsWith("3C") && std::chrono::steady_clock::now() < end2)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(p.caption("lblDI_0"), "3C      0   0   1   1   1   1   0   0");
    p.click("cmdStop");
}

} // namespace
} // namespace adcard::testing
