// The built libadcard.so, loaded as the panel loads it and driven through its
// exported entries. One library instance serves every test, so each test
// starts from StopIntr and sets its environment before Initial.
#include "driver/adcard.h"
#include "simcard/block_generator.h"
#include "simcard/config.h"
#include "simcard/error_codes.h"

#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace adcard::sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Lib {
    struct Sym { // converts to whichever entry type it is assigned to
        void *p;
        template <typename F> operator F *() const { return reinterpret_cast<F *>(p); }
    };
    void *h = ::dlopen(ADCARD_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    Sym sym(const char *name) const { return {::dlsym(h, name)}; }
    decltype(&::Initial) Initial = sym("Initial");
    decltype(&::StartIntr) StartIntr = sym("StartIntr");
    decltype(&::StopIntr) StopIntr = sym("StopIntr");
    decltype(&::QueryBuf) QueryBuf = sym("QueryBuf");
    decltype(&::ADResult) ADResult = sym("ADResult");
    decltype(&::GetLastADError) GetLastADError = sym("GetLastADError");
    decltype(&::Tvo_DI) Tvo_DI = sym("Tvo_DI");
    decltype(&::Tvo_DO) Tvo_DO = sym("Tvo_DO");
};

static constexpr const char *kVars[] = {"ADCARD_SIM_FAIL_INITIAL", "ADCARD_SIM_FAIL_STARTINTR", "ADCARD_SIM_FAIL_ADRESULT_EVERY",
                                 "ADCARD_SIM_CRASH_ADRESULT",
                                 "ADCARD_SIM_SPEED", "ADCARD_SIM_SEED", "ADCARD_SIM_NOISE", "ADCARD_SIM_QUEUE",
                                 "ADCARD_SIM_SEQUENCE", "ADCARD_SIM_STATS"};
static constexpr int16_t kGuard = 0x5A5A; // outside 0..4095, so no sample can equal it

using Env = std::map<std::string, std::string>;

class Card : public testing::Test {
protected:
    static Lib &lib()
    {
        static Lib *l = new Lib; // never closed, as the panel never unloads it
        return *l;
    }
    void SetUp() override
    {
        ASSERT_NE(lib().h, nullptr) << ::dlerror();
        for (const char *v : kVars)
            ::unsetenv(v);
        lib().StopIntr();
    }
    void TearDown() override
    {
        lib().StopIntr();
        for (const char *v : kVars)
            ::unsetenv(v);
        lib().Initial(320, 5, 0, 0); // forgets this test's settings and statistics file
        std::remove(stats_.c_str());
    }
    // Initial with `env` plus a statistics file of this test's own.
    int32_t initial(const Env &env = {})
    {
        ::setenv("ADCARD_SIM_STATS", stats_.c_str(), 1);
        for (const auto &[k, v] : env)
            ::setenv(k.c_str(), v.c_str(), 1);
        return lib().Initial(320, 5, 0, 0);
    }
    int32_t start(int16_t channels = 4, int32_t scans = 1000, int32_t rate = 10000)
    {
        return lib().StartIntr(10, scans, 0, channels, rate, 0, 1);
    }
    static bool waitFor(auto done, std::chrono::milliseconds limit = 10s)
    {
        for (const auto end = Clock::now() + limit; !done(); std::this_thread::sleep_for(1ms))
            if (Clock::now() > end)
                return false;
        return true;
    }
    std::map<std::string, uint64_t> stats() const
    {
        std::map<std::string, uint64_t> m;
        std::ifstream in(stats_);
        EXPECT_TRUE(in.is_open()) << "no statistics file " << stats_;
        for (std::string k; in >> k;)
            in >> m[k];
        return m;
    }
    static uint64_t seqOf(const std::vector<int16_t> &buf) { return uint64_t(buf[1]) | uint64_t(buf[2]) << 12; }

    static std::string statsPath()
    {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_'); // parameterised names carry a slash
        return testing::TempDir() + "adcard_stats_" + std::to_string(::getpid()) + "_" + name;
    }
    const std::string stats_ = statsPath();
};

struct ArgRow {
    const char *name;
    Env env;
    int16_t channels;
    int32_t scans, rate;
    int32_t error; // 0: accepted
};

class StartIntrArgs : public Card, public testing::WithParamInterface<ArgRow> {};

TEST_P(StartIntrArgs, AcceptsOrFailsWithItsCode)
{
    const auto &r = GetParam();
    ::setenv("ADCARD_SIM_SPEED", "100", 1);
    ASSERT_NE(initial(r.env), 0);
    const int32_t ok = start(r.channels, r.scans, r.rate);
    if (r.error == 0) {
        EXPECT_NE(ok, 0);
        EXPECT_EQ(lib().GetLastADError(), 0);
    } else {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(lib().GetLastADError(), r.error);
        std::this_thread::sleep_for(30ms); // some 30 blocks if it ran
        EXPECT_EQ(lib().QueryBuf(), 0) << "nothing may run after a refused start";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, StartIntrArgs, testing::ValuesIn(std::vector<ArgRow>{
    {"panel_settings", {}, 4, 1000, 10000, 0},
    {"one_channel_one_scan_rate_1", {}, 1, 1, 1, 0},
    {"channels_0", {}, 0, 1000, 10000, code(SimError::BadChannelCount)},
    {"channels_33", {}, 33, 1000, 10000, code(SimError::BadChannelCount)},
    {"channels_negative", {}, -4, 1000, 10000, code(SimError::BadChannelCount)},
    {"scans_0", {}, 4, 0, 10000, code(SimError::BadScanCount)},
    {"rate_0", {}, 4, 1000, 0, code(SimError::BadRate)},
    {"block_samples_beyond_32_bits", {}, 32, 100000000, 10000, code(SimError::BlockTooLarge)},
    {"block_samples_plus_one_beyond_32_bits", {{"ADCARD_SIM_QUEUE", "1"}}, 1, 2147483647, 10000, code(SimError::BlockTooLarge)},
    {"queue_beyond_memory", {}, 32, 10000000, 10000, code(SimError::QueueTooLarge)},
    {"injected_failure", {{"ADCARD_SIM_FAIL_STARTINTR", "4321"}}, 4, 1000, 10000, 4321},
    {"arguments_checked_before_injection", {{"ADCARD_SIM_FAIL_STARTINTR", "4321"}}, 0, 1000, 10000, code(SimError::BadChannelCount)},
}), kRowName);

TEST_F(Card, FailedInitialLeavesTheCardUninitialisedUntilTheNextGoodOne)
{
    for (const char *c : {"-77", "123456"}) {
        EXPECT_EQ(initial({{"ADCARD_SIM_FAIL_INITIAL", c}}), 0);
        EXPECT_EQ(lib().GetLastADError(), std::atoi(c));
        EXPECT_EQ(start(), 0);
        EXPECT_EQ(lib().GetLastADError(), code(SimError::NotInitialised));
    }
    ::unsetenv("ADCARD_SIM_FAIL_INITIAL");
    EXPECT_NE(initial(), 0);
    EXPECT_EQ(lib().GetLastADError(), 0);
    EXPECT_NE(start(), 0);
}

struct LayoutRow {
    const char *name;
    int16_t channels;
    int32_t scans;
};

class ADResultLayout : public Card, public testing::WithParamInterface<LayoutRow> {};

TEST_P(ADResultLayout, WritesExactlyTheBlockAtElementsOneToBlockSamples)
{
    const auto &r = GetParam();
    ASSERT_NE(initial({{"ADCARD_SIM_SEED", "99"}, {"ADCARD_SIM_NOISE", "5"}, {"ADCARD_SIM_SPEED", "100"}}), 0);
    ASSERT_NE(start(r.channels, r.scans, 10000), 0);
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() > 0; }));
    const auto samples = static_cast<std::size_t>(r.channels * r.scans);
    std::vector<int16_t> buf(samples + 2 + 64, kGuard);
    ASSERT_EQ(lib().ADResult(buf.data()), 1);

    const SimBlockParams p{r.channels, r.scans, 10000, 99, 5, false};
    std::vector<int16_t> want(samples);
    generateBlock(p, 0, want); // the oldest block is the first one made
    EXPECT_EQ(buf[0], kGuard);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin() + 1));
    for (std::size_t i = samples + 1; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], kGuard) << "element " << i;
    for (int k = 0; k < r.scans; ++k) // channel c of scan k at 1 + k * channels + c
        for (int c = 0; c < r.channels; ++c)
            ASSERT_LE(std::abs(buf[static_cast<std::size_t>(1 + k * r.channels + c)] - cleanSample(p, c, static_cast<uint64_t>(k))), 5);
}

INSTANTIATE_TEST_SUITE_P(Rows, ADResultLayout, testing::ValuesIn(std::vector<LayoutRow>{
    {"one_sample", 1, 1}, {"three_by_seven", 3, 7}, {"panel_block", 4, 1000}, {"thirty_two_channels", 32, 2},
}), kRowName);

TEST_F(Card, ADResultWithNothingWaitingWritesNothing)
{
    std::vector<int16_t> buf(16, kGuard);
    const auto untouched = buf;
    auto expectNothing = [&](const char *when) {
        EXPECT_EQ(lib().ADResult(buf.data()), 0) << when;
        EXPECT_EQ(lib().GetLastADError(), code(SimError::NoBlockWaiting)) << when;
        EXPECT_EQ(buf, untouched) << when;
    };
    ASSERT_NE(initial(), 0);
    expectNothing("before any start");
    ASSERT_NE(start(2, 1000, 1), 0); // first block due after 1000 s
    expectNothing("before the first block is due");
    lib().StopIntr();
    expectNothing("after stop");
}

TEST_F(Card, ADResultRefusesANullBufferAndKeepsTheBlock)
{
    ASSERT_NE(initial({{"ADCARD_SIM_QUEUE", "1"}, {"ADCARD_SIM_SPEED", "100"}}), 0);
    ASSERT_NE(start(), 0);
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() == 1; }));
    EXPECT_EQ(lib().ADResult(nullptr), 0);
    EXPECT_EQ(lib().GetLastADError(), code(SimError::NullBuffer));
    EXPECT_EQ(lib().QueryBuf(), 1);
}

TEST_F(Card, StopIntrIsHarmlessIdleAndTwiceAndDropsWaitingBlocks)
{
    EXPECT_NE(lib().StopIntr(), 0);
    ASSERT_NE(initial({{"ADCARD_SIM_SPEED", "100"}}), 0);
    EXPECT_NE(lib().StopIntr(), 0);
    ASSERT_NE(start(), 0);
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() >= 2; }));
    EXPECT_NE(lib().StopIntr(), 0);
    EXPECT_EQ(lib().QueryBuf(), 0);
    const auto first = stats();
    EXPECT_NE(lib().StopIntr(), 0);
    EXPECT_EQ(stats(), first) << "a second stop changes nothing";
    EXPECT_GE(first.at("flushed"), 2u);
}

TEST_F(Card, StartsNoThreadOfItsOwn)
{
    const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    ASSERT_NE(initial(), 0);
    const auto before = threads();
    ASSERT_NE(start(), 0);
    EXPECT_EQ(threads(), before) << "blocks are filled when the caller asks; a thread would cost wake-ups";
}

TEST_F(Card, FullQueueDropsNewBlocksAsOverrunsWithoutHoldingTheCallerUp)
{
    ASSERT_NE(initial({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_QUEUE", "2"}, {"ADCARD_SIM_SPEED", "200"}}), 0);
    ASSERT_NE(start(2, 100, 10000), 0); // 20000 blocks a second
    std::vector<int16_t> buf(202);
    std::vector<uint64_t> seqs;
    while (seqs.size() < 20) {
        ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() > 0; }));
        ASSERT_LE(lib().QueryBuf(), 2);
        ASSERT_EQ(lib().ADResult(buf.data()), 1);
        seqs.push_back(seqOf(buf));
        std::this_thread::sleep_for(1ms);
    }
    lib().StopIntr();
    auto s = stats();
    EXPECT_EQ(seqs.front(), 0u) << "the oldest block is kept, the new one dropped";
    uint64_t gaps = 0;
    for (std::size_t i = 1; i < seqs.size(); ++i) {
        ASSERT_GT(seqs[i], seqs[i - 1]);
        gaps += seqs[i] - seqs[i - 1] - 1;
    }
    EXPECT_GT(gaps, 0u);
    EXPECT_LE(gaps, s["overruns"]);
    EXPECT_EQ(s["produced"], s["delivered"] + s["discarded"] + s["overruns"] + s["flushed"]);
    EXPECT_EQ(s["delivered"], 20u);
}

struct DORow {
    const char *name;
    int16_t group, value;
    int32_t error;   // 0: accepted
    int16_t port0;   // input port 0 afterwards; output group 0 started at 0x33
};

class DigitalOutput : public Card, public testing::WithParamInterface<DORow> {};

TEST_P(DigitalOutput, LatchesValidBytesAndLoopsGroupZeroBack)
{
    const auto &r = GetParam();
    ASSERT_NE(lib().Tvo_DO(0, 0x33), 0);
    EXPECT_EQ(lib().Tvo_DO(r.group, r.value) != 0, r.error == 0);
    if (r.error != 0) {
        EXPECT_EQ(lib().GetLastADError(), r.error);
    }
    int16_t states[3] = {kGuard, kGuard, kGuard};
    ASSERT_NE(lib().Tvo_DI(2, states), 0);
    EXPECT_EQ(states[0], r.port0);
    EXPECT_EQ(states[2], kGuard);
}

INSTANTIATE_TEST_SUITE_P(Rows, DigitalOutput, testing::ValuesIn(std::vector<DORow>{
    {"group0_zero", 0, 0, 0, 0},
    {"group0_pattern", 0, 0xA5, 0, 0xA5},
    {"group0_max", 0, 255, 0, 255},
    {"group1_not_looped_back", 1, 0x0F, 0, 0x33},
    {"group_negative", -1, 1, code(SimError::BadDOGroup), 0x33},
    {"group_2", 2, 1, code(SimError::BadDOGroup), 0x33},
    {"value_negative", 0, -1, code(SimError::BadDOValue), 0x33},
    {"value_256", 0, 256, code(SimError::BadDOValue), 0x33},
}), kRowName);

TEST_F(Card, DigitalInputRefusesOtherCountsAndNullWithoutWriting)
{
    int16_t states[4] = {kGuard, kGuard, kGuard, kGuard};
    for (int32_t count : {0, 1, 3})
        EXPECT_TRUE(lib().Tvo_DI(count, states) == 0 && lib().GetLastADError() == code(SimError::BadDICount)) << count;
    EXPECT_TRUE(std::all_of(states, states + 4, [](int16_t v) { return v == kGuard; }));
    EXPECT_EQ(lib().Tvo_DI(2, nullptr), 0);
    EXPECT_EQ(lib().GetLastADError(), code(SimError::NullBuffer));
}

TEST_F(Card, InputPortOneCountsEveryBlockProduced)
{
    int16_t before[2], after[2], later[2];
    ASSERT_NE(lib().Tvo_DI(2, before), 0);
    ASSERT_NE(initial({{"ADCARD_SIM_QUEUE", "2"}, {"ADCARD_SIM_SPEED", "100"}}), 0);
    ASSERT_NE(start(), 0);
    std::this_thread::sleep_for(100ms);
    lib().StopIntr();
    ASSERT_NE(lib().Tvo_DI(2, after), 0);
    const uint64_t produced = stats()["produced"];
    EXPECT_GT(produced, 2u) << "overruns count too";
    EXPECT_EQ((after[1] - before[1]) & 0xFF, static_cast<int>(produced & 0xFF));
    std::this_thread::sleep_for(20ms);
    ASSERT_NE(lib().Tvo_DI(2, later), 0);
    EXPECT_EQ(later[1], after[1]) << "idle card advanced the counter";
}

TEST_F(Card, EveryNthTransferFailsAndConsumesItsBlock)
{
    ASSERT_NE(initial({{"ADCARD_SIM_FAIL_ADRESULT_EVERY", "3"}, {"ADCARD_SIM_SEQUENCE", "1"},
                       {"ADCARD_SIM_QUEUE", "100"}, {"ADCARD_SIM_SPEED", "100"}}), 0);
    ASSERT_NE(start(2, 100, 10000), 0);
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() >= 9; }));
    std::vector<int16_t> buf(202);
    std::vector<uint64_t> delivered;
    for (int i = 1; i <= 9; ++i) {
        const int32_t r = lib().ADResult(buf.data());
        EXPECT_EQ(r, i % 3 == 0 ? 0 : 1) << "call " << i;
        if (r == 1) {
            delivered.push_back(seqOf(buf));
        } else {
            EXPECT_EQ(lib().GetLastADError(), code(SimError::TransferFailed));
        }
    }
    EXPECT_EQ(delivered, (std::vector<uint64_t>{0, 1, 3, 4, 6, 7}));
    lib().StopIntr();
    EXPECT_EQ(stats()["discarded"], 3u);
    EXPECT_EQ(stats()["delivered"], 6u);
}

TEST_F(Card, InvalidSettingIsReportedOnceAndIgnored)
{
    testing::internal::CaptureStderr();
    const int32_t ok = initial({{"ADCARD_SIM_QUEUE", "lots"}});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(ok, 0);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("ADCARD_SIM_QUEUE"), std::string::npos) << err;
}

TEST_F(Card, PacesBlocksFromTheSpedUpClock)
{
    // Speed 50 at the panel's settings: one block every 2 ms.
    ASSERT_NE(initial({{"ADCARD_SIM_SPEED", "50"}}), 0);
    const auto t0 = Clock::now();
    ASSERT_NE(start(), 0);
    std::this_thread::sleep_for(500ms);
    const auto slept = Clock::now() - t0;
    lib().StopIntr();
    const auto total = Clock::now() - t0;
    const uint64_t produced = stats()["produced"];
    const auto perMs = [](auto d) { return std::chrono::duration<double, std::milli>(d).count() / 2; };
    EXPECT_LE(produced, perMs(total) + 1) << "blocks made ahead of time";
    EXPECT_GE(produced, perMs(slept) / 2) << "far fewer blocks than the elapsed time owes";
}

struct SeqRow {
    const char *name;
    int16_t channels;
    uint64_t mask; // the part of the sequence number a block can carry
};

class SequenceMode : public Card, public testing::WithParamInterface<SeqRow> {};

TEST_P(SequenceMode, NumbersEveryBlockWithoutGapOrRepeat)
{
    const auto &r = GetParam();
    ASSERT_NE(initial({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_QUEUE", "32767"}, {"ADCARD_SIM_SPEED", "10"}}), 0);
    ASSERT_NE(start(r.channels, 100, 10000), 0); // 1000 blocks a second
    const auto samples = static_cast<std::size_t>(r.channels * 100);
    const SimBlockParams p{r.channels, 100, 10000, kDefaultSeed, kDefaultNoise, true};
    std::vector<int16_t> buf(samples + 2), want(samples);
    for (uint64_t n = 0; n < 300;) {
        ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() > 0; }));
        while (lib().ADResult(buf.data()) == 1) {
            const uint64_t seq = r.channels >= 2 ? seqOf(buf) : uint64_t(buf[1]);
            ASSERT_EQ(seq, n & r.mask);
            generateBlock(p, n++, want);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), buf.begin() + 1)) << "block " << n - 1;
        }
    }
    lib().StopIntr();
    EXPECT_EQ(stats()["overruns"], 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, SequenceMode, testing::ValuesIn(std::vector<SeqRow>{
    {"four_channels", 4, 0xFFFFFF}, {"one_channel", 1, 0xFFF},
}), kRowName);

TEST_F(Card, StartIntrWhileRunningRestartsFromBlockZero)
{
    ASSERT_NE(initial({{"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_SPEED", "100"}}), 0);
    ASSERT_NE(start(4, 1000, 10000), 0);
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() >= 3; }));
    ASSERT_NE(start(2, 10, 1000), 0);
    EXPECT_GE(stats()["produced"], 3u) << "the first run's counters are recorded";
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() > 0; }));
    std::vector<int16_t> buf(22), want(20);
    ASSERT_EQ(lib().ADResult(buf.data()), 1);
    generateBlock({2, 10, 1000, kDefaultSeed, kDefaultNoise, true}, 0, want);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin() + 1));
}

TEST_F(Card, InitialWhileAcquiringStopsFirst)
{
    ASSERT_NE(initial({{"ADCARD_SIM_SPEED", "100"}}), 0);
    ASSERT_NE(start(), 0);
    ASSERT_TRUE(waitFor([&] { return lib().QueryBuf() > 0; }));
    ASSERT_NE(initial(), 0);
    EXPECT_EQ(lib().QueryBuf(), 0);
    EXPECT_GE(stats()["flushed"], 1u);
    std::this_thread::sleep_for(50ms); // 50 blocks would be due if it still ran
    EXPECT_EQ(lib().QueryBuf(), 0);
}

