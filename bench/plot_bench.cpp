// Redrawing the plot after a zoom step, at 1920 x 1080: summarise() and the
// drawing, from the whole source down to a few scans. The source is the live
// ring's copy made long (1000 blocks of 4 x 1000 scans), so that the figure
// is the plot's own cost over a source that answers from its reductions.
#include "plot/live_ring_source.h"
#include "plot/plot_renderer.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

using namespace adcard;

constexpr int kBlocks = 1000;
constexpr int kScans = 1000;

const LiveRingSource &longSource()
{
    static const LiveRingSource source = [] {
        LiveRingSource s;
        s.reset(4, kScans, kBlocks);
        std::vector<int16_t> block(4 * kScans);
        for (int h = 1; h <= kBlocks; ++h) {
            for (int k = 0; k < kScans; ++k)
                for (int c = 0; c < 4; ++c) {
                    const double t = (double(h) * kScans + k) * 0.0007 * (c + 1);
                    block[static_cast<std::size_t>(k * 4 + c)] =
                        static_cast<int16_t>(2048 + 1500 * std::sin(t) + 300 * std::sin(t * 37.0));
                }
            s.add(h, block);
        }
        s.publish();
        return s;
    }();
    return source;
}

// Argument: the scans shown, as a power of 8 below the whole source.
void redraw(benchmark::State &state, bool lanes)
{
    const LiveRingSource &source = longSource();
    PlotRenderer plot;
    plot.setSource(&source);
    plot.setLanes(lanes);
    const double whole = double(kBlocks) * kScans;
    const double span = std::max(whole / std::pow(8.0, static_cast<double>(state.range(0))), 8.0);
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    double at = whole / 3;
    for (auto _ : state) {
        // A step: the range moves, so every column is asked for again.
        at += span / 7;
        if (at + span > whole)
            at = 0;
        plot.setRange(at, at + span);
        QPainter p(&image);
        plot.render(p, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["scans_shown"] = span;
}
void BM_RedrawAfterZoom(benchmark::State &state) { redraw(state, false); }
// The same with a lane for each channel.
void BM_RedrawAfterZoomLanes(benchmark::State &state) { redraw(state, true); }
BENCHMARK(BM_RedrawAfterZoom)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawAfterZoomLanes)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

} // namespace

// What the panel pays per block for the history's copy of the ring, which it
// keeps from the first Start whether or not the window is open: one block of
// 4 x 1000 scans added to a ring of 20 and published, as each tick does.
void BM_RingCopyPerBlock(benchmark::State &state)
{
    LiveRingSource ring;
    ring.reset(4, kScans, 20);
    std::vector<int16_t> block(4 * kScans, 2048);
    int64_t handedOver = 0;
    for (auto _ : state) {
        ring.add(++handedOver, block);
        ring.publish();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RingCopyPerBlock)->Unit(benchmark::kMicrosecond);
