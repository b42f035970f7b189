// Every named fault, injected into the simulated card or the library itself,
// and what the panel shows and does about it.
#include "driver/error_codes.h"
#include "acquisition/formatting.h"
#include "tests/system/system_support.h"

#include <algorithm>

namespace adcard::testing {
namespace {

using namespace std::chrono_literals;

const QString kReserved = QString("Error=%1").arg(code(PanelError::DriverUnavailable));

bool ringAllZero(const DllDef &dll)
{
    return std::all_of(dll.HistoryRing.begin(), dll.HistoryRing.end(), [](int16_t v) { return v == 0; });
}

TEST(Faults, InitialFailingAtLoadShowsNothingAndAtStartShowsTheCode)
{
    SimEnvironment env({{"ADCARD_SIM_FAIL_INITIAL", "77"}});
    Program p;
    EXPECT_EQ(p.caption("lblBlock"), "Label2");
    EXPECT_TRUE(p.window().control("lblBlock")->toolTip().isEmpty());
    p.click("cmdStart");
    EXPECT_EQ(p.caption("lblBlock"), "Error=77");
    EXPECT_FALSE(p.window().timerEnabled());
    EXPECT_TRUE(p.dll().BlockBuf.empty());
}

TEST(Faults, StartIntrFailingWhileStopped)
{
    SimEnvironment env({{"ADCARD_SIM_FAIL_STARTINTR", "-55"}});
    Program p;
    p.click("cmdStart");
    EXPECT_EQ(p.caption("lblBlock"), "Error=-55");
    EXPECT_FALSE(p.window().timerEnabled());
    EXPECT_EQ(p.dll().BlockBuf.size(), 4002u);
    EXPECT_EQ(p.dll().HistoryRing.size(), 80001u);
    EXPECT_TRUE(ringAllZero(p.dll()));
}

TEST(Faults, StartIntrFailingWhileRunningKeepsTheTimerAndCounters)
{
    SimEnvironment env({{"ADCARD_SIM_SPEED", "20"}});
    Program p;
    p.click("cmdStart");
    ASSERT_TRUE(p.waitForBlocks(3));
    p.acq().onTick();
    const int16_t count = p.acq().BlockCount;
    const int32_t pos = p.dll().RingPos;
    ASSERT_GE(count, 3);

    env.set("ADCARD_SIM_FAIL_STARTINTR", "56");
    p.click("cmdStart");
    EXPECT_EQ(p.caption("lblBlock"), "Error=56");
    EXPECT_TRUE(p.window().timerEnabled());
    EXPECT_TRUE(ringAllZero(p.dll()));
    EXPECT_EQ(p.acq().BlockCount, count);
    EXPECT_EQ(p.dll().RingPos, pos);

    // The card is stopped: ticks find nothing and the failure text stays.
    std::this_thread::sleep_for(50ms);
    p.acq().onTick();
    EXPECT_EQ(p.caption("lblBlock"), "Error=56");
    p.click("cmdStop");
}

TEST(Faults, EveryThirdFetchFailingOverAHundredBlocks)
{
    const std::string stats = statsPath("every-third");
    SimEnvironment env({{"ADCARD_SIM_FAIL_ADRESULT_EVERY", "3"}, {"ADCARD_SIM_SEQUENCE", "1"},
                        {"ADCARD_SIM_SPEED", "50"}, {"ADCARD_SIM_QUEUE", "512"}, {"ADCARD_SIM_STATS", stats}});
    const auto params = fixedParams(1, 3, true);
    Program p;
    p.click("cmdStart");

    // The panel fetches blocks 0, 1, 2, ... in order; the card loses every
    // third fetch, so blocks 2, 5, 8, ... never reach the ring.
    std::vector<uint32_t> ringed; // sequence numbers in the order they went into the ring
    while (p.acq().BlockCount < 100) {
        ASSERT_TRUE(p.waitForBlocks(1));
        const int16_t before = p.acq().BlockCount;
        p.acq().onTick();
        for (int i = before; i < p.acq().BlockCount; ++i)
            if ((i + 1) % 3 != 0)
                ringed.push_back(static_cast<uint32_t>(i));
    }
    const int total = p.acq().BlockCount;
    p.click("cmdStop");

    EXPECT_EQ(p.caption("lblBlock"), QString::fromStdString(counterText(total)));
    EXPECT_EQ(p.dll().RingPos, static_cast<int32_t>(ringed.size() % 20 * kBlockSamples));
    EXPECT_EQ(p.caption("lblptr"), QString::fromStdString(counterText(p.dll().RingPos)));
    // The last twenty ringed blocks, each in its slot, whole.
    for (std::size_t n = ringed.size() - 20; n < ringed.size(); ++n) {
        const int16_t *slot = ringSlot(p.dll(), 0, static_cast<int>(n));
        EXPECT_EQ(stampOf(slot), ringed[n]) << "slot " << n % 20;
        const auto want = expectedBlock(params, ringed[n]);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), slot)) << "block " << ringed[n];
    }
    const auto s = readStats(stats);
    EXPECT_EQ(s.at("discarded"), total / 3);
    EXPECT_EQ(s.at("delivered"), static_cast<long long>(ringed.size()));
}

TEST(Faults, MissingLibrary)
{
    const std::string missing = std::string(ADPANEL_TEST_TMP) + "/no-such-dir/libadcard.so";
    ::testing::internal::CaptureStderr();
    Program p(missing);
    p.click("cmdStart");
    p.click("cmdSWO");
    p.acq().onTick();
    p.click("cmdStop");
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(p.caption("lblBlock"), kReserved);
    EXPECT_FALSE(p.window().timerEnabled());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(missing), std::string::npos) << err;
    // The tooltip is broken into lines that fit the window.
    const QString tip = p.window().control("lblBlock")->toolTip().remove(QLatin1Char('\n'));
    EXPECT_TRUE(tip.contains(QString::fromStdString(missing))) << tip.toStdString();
}

TEST(Faults, LibraryWithoutStartIntr)
{
    ::testing::internal::CaptureStderr();
    Program p(ADPANEL_NO_STARTINTR_LIBRARY);
    p.click("cmdStart");
    p.click("cmdStart");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(p.caption("lblBlock"), kReserved);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("StartIntr"), std::string::npos) << err;
    EXPECT_TRUE(p.window().control("lblBlock")->toolTip().contains("StartIntr"));
    // The entries that exist still work: the arrays were sized after Initial.
    EXPECT_EQ(p.dll().BlockBuf.size(), 4002u);
}

TEST(Faults, QueryBufWithOnlyUpperBitsSetCountsAsZero)
{
    Program p(ADPANEL_WIDE_RESULT_LIBRARY);
    p.click("cmdStart");
    ASSERT_TRUE(p.window().timerEnabled());
    p.acq().onTick(); // the library aborts if ADResult or Tvo_DI is reached
    EXPECT_EQ(p.caption("lblBlock"), "Label2");
    EXPECT_EQ(p.caption("lblptr"), "Label3");
    EXPECT_EQ(p.acq().BlockCount, 0);
}

TEST(Faults, UiThreadBlockedThreeSecondsLosesNothing)
{
    const std::string stats = statsPath("blocked");
    SimEnvironment env({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_QUEUE", "64"}, {"ADCARD_SIM_STATS", stats}});
    Program p;
    const int16_t countBefore = p.acq().BlockCount;
    const int32_t posBefore = p.dll().RingPos;
    p.click("cmdStart");
    std::this_thread::sleep_for(3s);
    p.acq().onTick();
    const int got = p.acq().BlockCount - countBefore;
    EXPECT_GE(got, 29);
    EXPECT_LE(got, 64);
    // The last twenty of them are in the ring, in order.
    for (int i = got - 20; i < got; ++i) {
        EXPECT_EQ(stampOf(ringSlot(p.dll(), posBefore, i)), static_cast<uint32_t>(i));
    }
    p.click("cmdStop");
    const auto s = readStats(stats);
    EXPECT_EQ(s.at("overruns"), 0);
    EXPECT_EQ(s.at("delivered"), got);
}

TEST(Faults, FullQueueCountsOverrunsAndThePanelGoesOn)
{
    const std::string stats = statsPath("full-queue");
    SimEnvironment env({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_QUEUE", "4"}, {"ADCARD_SIM_SPEED", "10"},
                        {"ADCARD_SIM_STATS", stats}});
    Program p;
    const int16_t countBefore = p.acq().BlockCount;
    p.click("cmdStart");
    std::vector<uint32_t> stamps;
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(500ms); // about 50 blocks made, 4 kept
        const int32_t pos = p.dll().RingPos;
        const int16_t before = p.acq().BlockCount;
        p.acq().onTick();
        const int got = p.acq().BlockCount - before;
        EXPECT_GE(got, 4);
        EXPECT_LE(got, 5);
        for (int i = 0; i < got; ++i)
            stamps.push_back(stampOf(ringSlot(p.dll(), pos, i)));
    }
    p.click("cmdStop");
    // Blocks arrive in order, never twice; the lost ones leave gaps.
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
    EXPECT_EQ(std::adjacent_find(stamps.begin(), stamps.end()), stamps.end());
    const auto s = readStats(stats);
    EXPECT_GT(s.at("overruns"), 50);
    EXPECT_EQ(s.at("delivered"), p.acq().BlockCount - countBefore);
    EXPECT_EQ(s.at("produced"), s.at("delivered") + s.at("overruns") + s.at("flushed"));
}

} // namespace
} // namespace adcard::testing
