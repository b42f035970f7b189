// Drawing the full history ring (20 blocks of 4 x 1000 scans) into an
// 800 x 400 image, the summaries from the ring's copy included: the cost of
// one full repaint of the history window's plot.
#include "history/history_plot.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using namespace adcard;

struct NoDriver final : CardDriver {
    int32_t Initial(int32_t, int32_t, int32_t, int32_t) override { return 1; }
    int32_t StartIntr(int16_t, int32_t, int16_t, int16_t, int32_t, int32_t, int16_t) override { return 1; }
    int32_t StopIntr() override { return 1; }
    int16_t QueryBuf() override { return 0; }
    int32_t ADResult(int16_t *) override { return 0; }
    int32_t GetLastADError() override { return 0; }
    int16_t Tvo_DI(int32_t, int16_t *) override { return 0; }
    int16_t Tvo_DO(int16_t, int16_t) override { return 0; }
};

// The fixed settings' ring of 20 blocks of 4 x 1000 scans, a sine on each
// channel; with `apart`, each channel at its own frequency.
void fillRing(DllDef &dll, bool apart)
{
    dll.settings.ScansPerBlock = 1000;
    dll.settings.ChannelCount = 4;
    dll.settings.RingBlocks = 20;
    dll.HistoryRing.assign(4000 * 20 + 1, 0);
    for (std::size_t i = 0; i + 1 < dll.HistoryRing.size(); ++i) {
        const double phase = static_cast<double>(i / 4) * 0.01 * (apart ? static_cast<double>(i % 4 + 1) : 1.0);
        dll.HistoryRing[i] = static_cast<int16_t>(2048 + 1800 * std::sin(phase));
    }
}

void BM_RenderFullRing(benchmark::State &state)
{
    NoDriver driver;
    DllDef dll(driver);
    fillRing(dll, true);
    HistoryPlot plot;
    for (int c = 0; c < kPlotChannels; ++c)
        plot.setChannelVisible(c, state.range(0) != 0);
    plot.historyStarted(dll.settings);
    // 25 blocks handed over, as a tick hands them: the plot copies each.
    for (int h = 1; h <= 25; ++h) {
        const int slot = (h - 1) % 20;
        plot.blockStored({{dll.HistoryRing.data() + slot * 4000, 4000}, slot, h, h});
    }
    QImage image(800, 400, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        // As after a tick that could not move the picture: every column is
        // summarised again from the ring's copy.
        plot.tickEnded({1, 25, 0, 1});
        plot.renderer().invalidate();
        QPainter p(&image);
        plot.render(p, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["heap_bytes"] = static_cast<double>(plot.heapBytes());
}
// Argument 1: all four traces; 0: the axes and the reduction alone.
BENCHMARK(BM_RenderFullRing)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// What the window does for each tick that stored a block while following
// the whole ring: the copy and its reduction, the picture's columns moved,
// and only the new block's strip drawn.
void BM_TickStrip(benchmark::State &state)
{
    NoDriver driver;
    DllDef dll(driver);
    fillRing(dll, false);
    HistoryPlot plot;
    plot.historyStarted(dll.settings);
    QImage image(800, 400, QImage::Format_ARGB32_Premultiplied);
    int shift = 0;
    plot.setChangedCallback([&](int s) { shift = s; });
    int64_t h = 0;
    const auto tick = [&] {
        const int slot = static_cast<int>(h % 20);
        ++h;
        plot.blockStored({{dll.HistoryRing.data() + slot * 4000, 4000}, slot, h, h});
        plot.tickEnded({1, 0, 0, 1});
    };
    for (int i = 0; i < 25; ++i)
        tick();
    {
        QPainter p(&image);
        plot.render(p, image.rect());
    }
    int strips = 0;
    for (auto _ : state) {
        tick();
        const QRect r = plot.plotRect(image.rect());
        QPainter p(&image);
        p.setClipRect(r.adjusted(r.width() - shift, 0, 0, 0));
        plot.render(p, image.rect(), QRect(r.right() + 1 - shift, r.top(), shift, r.height()));
        p.end();
        strips += shift > 0;
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["strips"] = benchmark::Counter(strips, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_TickStrip)->Unit(benchmark::kMicrosecond);

} // namespace
