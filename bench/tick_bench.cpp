// One tick that harvests one 4000-sample block (copy into the ring, readout,
// captions) against a plain loop doing the same copy and float sums; and one
// level rule over the block's 1000 scans against a plain loop over the same
// values.
#include "acquisition/acquisition.h"
#include "acquisition/panel_view.h"
#include "rules/engine.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace adcard;

constexpr int kChannels = 4;
constexpr int kScans = 1000;
constexpr int kBlockSamples = kChannels * kScans;
constexpr int kRingBlocks = 20;

int16_t sampleAt(int j) { return static_cast<int16_t>((j * 37) % 4096); }

// A card with one block always waiting; the block is already in the buffer,
// so the benchmark measures the panel's work, not a driver's copy.
class ReadyCard final : public CardDriver {
public:
    int32_t Initial(int32_t, int32_t, int32_t, int32_t) override { return 1; }
    int32_t StartIntr(int16_t, int32_t, int16_t, int16_t, int32_t, int32_t, int16_t) override { return 1; }
    int32_t StopIntr() override { return 1; }
    int16_t QueryBuf() override { return 1; }
    int32_t ADResult(int16_t *) override { return 1; }
    int32_t GetLastADError() override { return 0; }
    int16_t Tvo_DI(int32_t, int16_t *states) override
    {
        states[0] = 0xA5;
        states[1] = static_cast<int16_t>(++counter_ & 0xFF);
        return 1;
    }
    int16_t Tvo_DO(int16_t, int16_t) override { return 1; }

private:
    int16_t counter_ = 0;
};

// Keeps the captions as a window keeps its label texts.
class CaptionStore final : public PanelView {
public:
    void setCaption(Caption caption, std::string_view utf8) override
    {
        texts[static_cast<std::size_t>(caption)].assign(utf8);
    }
    std::string text(TextBox) const override { return {}; }
    void setTimerEnabled(bool) override {}
    bool timerEnabled() const override { return true; }
    void unload() override {}
    void setInputProblem(TextBox, std::string_view) override {}

    std::array<std::string, kCaptionCount> texts;
};

void BM_Tick(benchmark::State &state)
{
    ReadyCard card;
    DllDef dll(card);
    CaptionStore view;
    Acquisition acq(dll, view);
    acq.onLoad();
    acq.onStart();
    for (int j = 1; j <= kBlockSamples; ++j)
        dll.BlockBuf[static_cast<std::size_t>(j)] = sampleAt(j);
    for (auto _ : state) {
        acq.onTick();
        benchmark::DoNotOptimize(dll.HistoryRing.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlockSamples);
}
BENCHMARK(BM_Tick);

void BM_Baseline(benchmark::State &state)
{
    std::vector<int16_t> block(kBlockSamples + 2);
    for (int j = 1; j <= kBlockSamples; ++j)
        block[static_cast<std::size_t>(j)] = sampleAt(j);
    std::vector<int16_t> ring(kBlockSamples * kRingBlocks + 1);
    int pos = 0;
    for (auto _ : state) {
        std::memcpy(ring.data() + pos, block.data() + 1, kBlockSamples * sizeof(int16_t));
        pos = (pos + kBlockSamples) % (kBlockSamples * kRingBlocks);
        float sums[kChannels] = {};
        for (int k = 0; k < kScans; ++k)
            for (int c = 0; c < kChannels; ++c)
                sums[c] += static_cast<float>(block[static_cast<std::size_t>(1 + k * kChannels + c)]);
        benchmark::DoNotOptimize(sums);
        benchmark::DoNotOptimize(ring.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlockSamples);
}
BENCHMARK(BM_Baseline);

// Four channels of slow sines: channel 1 goes above 4 V and back once a block.
std::vector<int16_t> sineBlock()
{
    std::vector<int16_t> block(kBlockSamples);
    for (int k = 0; k < kScans; ++k)
        for (int c = 0; c < kChannels; ++c)
            block[std::size_t(k * kChannels + c)] =
                static_cast<int16_t>(std::lround(2048 + 2000 * std::sin(6.283185307179586 * (k + 250 * c) / kScans)));
    return block;
}

// One rule, or eight on the four channels (above and below on each): a
// tick's whole cost of the rules at one block a tick.
void BM_LevelRules(benchmark::State &state)
{
    const std::vector<int16_t> block = sineBlock();
    std::vector<rules::Rule> set;
    for (int r = 0; r < state.range(0); ++r) {
        rules::Rule rule;
        rule.name = "r" + std::to_string(r);
        rule.when = rules::LevelWhen{1 + r / 2, {r % 2 ? LevelKind::Below : LevelKind::Above, r % 2 ? -4.0 : 4.0, 0, 0.2}};
        set.push_back(rule);
    }
    rules::Engine engine(rules::RuleSet{set, ""}, {}, kPanelCalibration, kChannels, kScans, 10000);
    int64_t first = 0;
    for (auto _ : state) {
        engine.block(block, first);
        first += kScans;
        auto events = engine.takeEvents();
        benchmark::DoNotOptimize(events.data());
    }
    state.SetItemsProcessed(state.iterations() * kScans * state.range(0));
}
BENCHMARK(BM_LevelRules)->Arg(1)->Arg(8);

// The least a rule can do: each of the 1000 values against two code
// thresholds, with its state.
void BM_PlainLevelLoop(benchmark::State &state)
{
    const std::vector<int16_t> block = sineBlock();
    const int fire = 3686, clear = 3604; // above 4 V; at or below 3.8 V
    bool on = false;
    for (auto _ : state) {
        int changes = 0;
        for (int k = 0; k < kScans; ++k) {
            const int v = block[std::size_t(k * kChannels)];
            if (!on && v > fire)
                on = true, ++changes;
            else if (on && v <= clear)
                on = false, ++changes;
        }
        benchmark::DoNotOptimize(changes);
    }
    state.SetItemsProcessed(state.iterations() * kScans);
}
BENCHMARK(BM_PlainLevelLoop);

} // namespace

BENCHMARK_MAIN();
