// Over 40,000 blocks through the real tick, the real loader and the simulated
// card with its clock sped up: nothing crashes, the block count saturates,
// every fetched block sits whole in its ring slot, and memory stays flat.
// The card runs 500 times faster than real time, 5,000 blocks a second.
#include "tests/system/system_support.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace adcard::testing {
namespace {

using namespace std::chrono_literals;

// Passes every call through to the loader and remembers the sequence number
// of each block handed over, so the test knows what each tick fetched. It
// reports at most a ring's worth of waiting blocks, the rest staying queued
// in the card, so that a tick delayed by a busy machine never overwrites its
// own first blocks and every block can be checked in its slot.
class RecordingDriver final : public CardDriver {
public:
    explicit RecordingDriver(DriverLoader &inner) : inner_(inner) {}
    int32_t Initial(int32_t a, int32_t b, int32_t c, int32_t d) override { return inner_.Initial(a, b, c, d); }
    int32_t StartIntr(int16_t a, int32_t b, int16_t c, int16_t d, int32_t e, int32_t f, int16_t g) override
    {
        return inner_.StartIntr(a, b, c, d, e, f, g);
    }
    int32_t StopIntr() override { return inner_.StopIntr(); }
    int16_t QueryBuf() override
    {
        const int16_t ready = inner_.QueryBuf();
        backlog = ready > kRingBlocks;
        return std::min(ready, kRingBlocks);
    }
    int32_t ADResult(int16_t *buffer) override
    {
        const int32_t r = inner_.ADResult(buffer);
        if (r == 1)
            fetched.push_back(stampOf(buffer + 1));
        return r;
    }
    int32_t GetLastADError() override { return inner_.GetLastADError(); }
    int16_t Tvo_DI(int32_t n, int16_t *s) override { return inner_.Tvo_DI(n, s); }
    int16_t Tvo_DO(int16_t g, int16_t v) override { return inner_.Tvo_DO(g, v); }

    static constexpr int16_t kRingBlocks = 20;
    std::vector<uint32_t> fetched;
    bool backlog = false; // more blocks were waiting than the last QueryBuf reported

private:
    DriverLoader &inner_;
};

long residentKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) // clang's way of saying so
#define ADPANEL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(ADPANEL_ASAN)
constexpr bool kSanitized = true; // ASan's quarantine holds freed memory on purpose
#else
constexpr bool kSanitized = false;
#endif

TEST(Soak, FortyThousandBlocks)
{
    constexpr std::size_t kBlocks = 40000;
    const std::string stats = statsPath("soak");
    // The simulated card makes a block's samples as it hands the block over,
    // in this thread: the speed is what the build can fetch without loss. The
    // queue holds six seconds of blocks, so a machine busy with other work
    // delays the fetches without losing any.
    SimEnvironment env({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_SPEED", "500"},
                        {"ADCARD_SIM_QUEUE", "32767"},
                        {"ADCARD_SIM_STATS", stats}, {"ADCARD_SIM_SEED", "3"}});
    const auto params = fixedParams(3, 3, true);

    DriverLoader loader(ADCARD_SIM_LIBRARY);
    RecordingDriver driver(loader);
    PanelOptions options;
    options.driver = &driver;
    PanelProgram program(options);
    FrmMultiBuf &window = program.window();
    Acquisition &acq = window.acquisition();
    const DllDef &dll = acq.dll();
    qobject_cast<QPushButton *>(window.control("cmdStart"))->click();
    ASSERT_TRUE(window.timerEnabled());

    long rssFirst = -1;
    std::size_t checked = 0;
    std::size_t ticks = 0;
    // Each block fetched since the last check sits in its slot: block n of the
    // run goes to slot n mod 20, since RingPos starts at 0.
    const auto checkNewBlocks = [&] {
        const std::size_t total = driver.fetched.size();
        ASSERT_LE(total - checked, 20u);
        for (std::size_t n = checked; n < total; ++n) {
            const int16_t *slot = ringSlot(dll, 0, static_cast<int>(n % 20));
            ASSERT_EQ(stampOf(slot), driver.fetched[n]) << "block " << n;
            if (n % 97 == 0) {
                const auto want = expectedBlock(params, driver.fetched[n]);
                ASSERT_TRUE(std::equal(want.begin(), want.end(), slot)) << "block " << n;
            }
        }
        checked = total;
    };
    const auto deadline = std::chrono::steady_clock::now() + 100s;
    while (driver.fetched.size() < kBlocks) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "only " << driver.fetched.size() << " blocks";
        if (!driver.backlog)
            std::this_thread::sleep_for(1ms);
        acq.onTick();
        ++ticks;
        ASSERT_NO_FATAL_FAILURE(checkNewBlocks());
        // Lets the window repaint, as between real ticks; the window's own
        // timer may tick here too.
        QCoreApplication::processEvents();
        ASSERT_NO_FATAL_FAILURE(checkNewBlocks());
        if (rssFirst < 0 && checked >= 1000)
            rssFirst = residentKiB();
    }
    qobject_cast<QPushButton *>(window.control("cmdStop"))->click();
    const long rssLast = residentKiB();

    // No block lost or repeated: the card's numbers run on without a gap.
    for (std::size_t n = 0; n < driver.fetched.size(); ++n)
        ASSERT_EQ(driver.fetched[n], n) << "block " << n;
    EXPECT_EQ(acq.BlockCount, 32767);
    EXPECT_EQ(qobject_cast<QLabel *>(window.control("lblBlock"))->text(), " 32767");
    EXPECT_EQ(dll.RingPos, static_cast<int32_t>(driver.fetched.size() % 20 * kBlockSamples));
    const auto s = readStats(stats);
    EXPECT_EQ(s.at("delivered"), static_cast<long long>(driver.fetched.size()));

    std::printf("soak: %zu blocks in %zu ticks, each checked in its ring slot; resident memory %ld KiB after 1000 "
                "blocks, %ld KiB at the end\n",
                driver.fetched.size(), ticks, rssFirst, rssLast);
    // Under the sanitizers the ticks run several times slower, and on a busy
    // machine they fall behind a card producing 5,000 blocks a second: its
    // queue then fills, which says nothing about the panel.
    if (!kSanitized) {
        EXPECT_EQ(s.at("overruns"), 0);
        EXPECT_LT(rssLast - rssFirst, 4096) << "resident memory grew";
    }
}

} // namespace
} // namespace adcard::testing
