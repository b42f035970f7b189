// The plot drawn into an image: traces at the heights of their codes, only
// the blocks of the current history, oldest at the left.
#include "history/history_plot.h"
#include "history/live_ring_feed.h"
#include "tests/support/mock_driver.h"
#include "tests/support/row_name.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their names

constexpr int kScans = 1000;
constexpr int kChannels = 4;
constexpr int kSlots = 20;
constexpr int kBlockSamples = kScans * kChannels;

class Plot : public ::testing::Test {
protected:
    Plot()
    {
        dll.settings.ScansPerBlock = kScans;
        dll.settings.ChannelCount = kChannels;
        dll.settings.RingBlocks = kSlots;
        start();
    }
    void start()
    {
        dll.HistoryRing.assign(kBlockSamples * kSlots + 1, 0);
        feed.historyStarted(dll.settings);
        plot.historyStarted(dll.settings);
    }
    // Stores one block of constant channels at RingPos, as a tick does.
    void store(std::array<int16_t, kChannels> codes)
    {
        const int slot = dll.RingPos / kBlockSamples;
        for (int k = 0; k < kScans; ++k)
            for (int c = 0; c < kChannels; ++c)
                dll.HistoryRing[static_cast<std::size_t>(slot * kBlockSamples + k * kChannels + c)] = codes[c];
        ++handedOver;
        // The plot keeps its own copy of what the hook hands over.
        const StoredBlock block{{dll.HistoryRing.data() + slot * kBlockSamples, kBlockSamples}, slot, handedOver,
                                handedOver};
        feed.blockStored(block);
        plot.blockStored(block);
        dll.RingPos = (dll.RingPos + kBlockSamples) % (kBlockSamples * kSlots);
    }
    void endTick(int stored = 1)
    {
        feed.tickEnded({1, 0, dll.RingPos, stored});
        plot.tickEnded({1, 0, dll.RingPos, stored});
    }
    QImage draw() const
    {
        QImage img(800, 400, QImage::Format_RGB32);
        QPainter p(&img);
        plot.render(p, img.rect());
        return img;
    }
    // Rows of a channel's colour in the image column at the middle of ring
    // position `p` (0 = the oldest place at the left).
    std::vector<int> traceRows(const QImage &img, int channel, int p) const
    {
        const QRect r = plot.plotRect(img.rect());
        const int x = r.left() + (2 * p + 1) * r.width() / (2 * kSlots);
        std::vector<int> rows;
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (img.pixel(x, y) == HistoryPlot::channelColor(channel).rgb())
                rows.push_back(y);
        return rows;
    }
    // Where a code belongs: +5 V at the top row of the plot, -5 V at the bottom.
    int rowOf(int code, const QImage &img) const
    {
        const QRect r = plot.plotRect(img.rect());
        const double volts = (code - 2048) / 4095.0 * 10.0;
        return r.top() + static_cast<int>(std::lround((5.0 - volts) / 10.0 * (r.height() - 1)));
    }

    ::testing::NiceMock<testing::MockDriver> driver;
    DllDef dll{driver};
    LiveRingFeed feed; // the panel's, fed from the first Start
    HistoryPlot plot{&feed};
    int64_t handedOver = 0;
};

TEST_F(Plot, ConstantChannelsAppearAtTheirHeights)
{
    const std::array<int16_t, kChannels> codes{4095, 2048, 0, 3072};
    store(codes);
    store(codes);
    endTick(2);
    const QImage img = draw();
    for (int p : {kSlots - 2, kSlots - 1})
        for (int c = 0; c < kChannels; ++c) {
            SCOPED_TRACE(::testing::Message() << "position " << p << " channel " << c);
            EXPECT_EQ(traceRows(img, c, p), std::vector<int>{rowOf(codes[c], img)});
        }
    // The top and bottom codes lie at the plot's edges.
    const QRect r = plot.plotRect(img.rect());
    EXPECT_EQ(rowOf(4095, img), r.top());
    EXPECT_EQ(rowOf(0, img), r.bottom());
}

TEST_F(Plot, SlotsNotHandedOverSinceTheStartAreNotDrawn)
{
    for (int i = 0; i < 25; ++i)
        store({3000, 2048, 2048, 2048});
    endTick(25);
    // A new Start: zeros everywhere, RingPos unchanged; one block arrives.
    start();
    EXPECT_TRUE(traceRows(draw(), 0, 5).empty()) << "a Start clears the plot";
    handedOver = 0;
    store({1000, 2048, 2048, 2048});
    endTick();
    const QImage img = draw();
    EXPECT_EQ(plot.blocksShown(), 1);
    EXPECT_EQ(traceRows(img, 0, kSlots - 1), std::vector<int>{rowOf(1000, img)});
    for (int p = 0; p < kSlots - 1; ++p)
        for (int c = 0; c < kChannels; ++c)
            EXPECT_TRUE(traceRows(img, c, p).empty()) << "empty slot at position " << p << " drawn";
}

TEST_F(Plot, FollowsTheRingOnlyAtTheEndOfATickThatStored)
{
    store({1000, 2048, 2048, 2048});
    endTick();
    store({3000, 2048, 2048, 2048});
    endTick(0); // a tick that stored nothing cannot have moved the ring
    QImage img = draw();
    EXPECT_EQ(traceRows(img, 0, kSlots - 1), std::vector<int>{rowOf(1000, img)});
    endTick();
    img = draw();
    EXPECT_EQ(traceRows(img, 0, kSlots - 1), std::vector<int>{rowOf(3000, img)});
    EXPECT_EQ(traceRows(img, 0, kSlots - 2), std::vector<int>{rowOf(1000, img)});
}

struct WrapRow {
    const char *name;
    int blocks; // handed over since the Start
};

class WrappedRing : public Plot, public ::testing::WithParamInterface<WrapRow> {};

TEST_P(WrappedRing, IsDrawnOldestToNewest)
{
    // Block i carries code 100 + 150 i on channel 0, so its place is known.
    const int blocks = GetParam().blocks;
    for (int i = 0; i < blocks; ++i)
        store({static_cast<int16_t>(100 + 150 * i), 2048, 2048, 2048});
    endTick(blocks);
    const QImage img = draw();
    const int shown = std::min(blocks, kSlots);
    for (int p = 0; p < kSlots; ++p) {
        const int block = blocks - kSlots + p; // the block drawn at position p
        SCOPED_TRACE(::testing::Message() << "position " << p << " block " << block);
        if (block < 0)
            EXPECT_TRUE(traceRows(img, 0, p).empty());
        else
            EXPECT_EQ(traceRows(img, 0, p), std::vector<int>{rowOf(100 + 150 * block, img)});
    }
    EXPECT_EQ(plot.blocksShown(), shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, WrappedRing,
                         ::testing::Values(WrapRow{"partly_filled", 7}, WrapRow{"exactly_full", 20},
                                           WrapRow{"wrapped_by_three", 23}),
                         kRowName);

TEST_F(Plot, OpenedMidHistoryItStartsFromTheFeedsCopy)
{
    for (int i = 0; i < 3; ++i)
        store({static_cast<int16_t>(1000 + 500 * i), 2048, 2048, 2048});
    endTick(3);
    HistoryPlot late(&feed);
    late.catchUp();
    EXPECT_EQ(late.blocksShown(), 3);
    EXPECT_EQ(late.samplesAtColumn(799, 800).value()[0], 2000);
    EXPECT_FALSE(late.samplesAtColumn(0, 800).has_value());
}

struct ShiftRow {
    const char *name;
    int before; // blocks stored before
    int added;  // blocks stored by the tick
};

class Shift : public Plot, public ::testing::WithParamInterface<ShiftRow> {};

// What the window does after a tick: move the last picture left and draw
// only the new strip. It must give the picture a full drawing gives.
TEST_P(Shift, MovedPictureWithTheNewStripEqualsAFullDrawing)
{
    const auto level = [](int i) { return static_cast<int16_t>((i * 733) % 4096); };
    for (int i = 0; i < GetParam().before; ++i)
        store({level(i), level(i + 1), level(i + 2), level(i + 3)});
    endTick(GetParam().before);
    QImage moved = draw();
    int shift = -1;
    plot.setChangedCallback([&](int s) { shift = s; });
    for (int i = GetParam().before; i < GetParam().before + GetParam().added; ++i)
        store({level(i), level(i + 1), level(i + 2), level(i + 3)});
    endTick(GetParam().added);
    const QRect r = plot.plotRect(moved.rect());
    ASSERT_EQ(shift, GetParam().added * r.width() / kSlots);

    const QImage old = moved.copy(r);
    QPainter p(&moved);
    p.setClipRect(r); // as QWidget::scroll: nothing moves out of the rectangle
    p.drawImage(r.topLeft() - QPoint(shift, 0), old);
    const QRect strip(r.right() + 1 - shift, r.top(), shift, r.height());
    p.setClipRect(strip);
    plot.render(p, moved.rect(), strip);
    p.end();
    EXPECT_TRUE(moved == draw());
}

INSTANTIATE_TEST_SUITE_P(Rows, Shift,
                         ::testing::Values(ShiftRow{"filling", 5, 1}, ShiftRow{"wrapping", 25, 1},
                                           ShiftRow{"two_in_one_tick", 19, 2}),
                         kRowName);

// Blocks swinging from one end of the range to the other make every join a
// bar as tall as the plot, which are drawn through a picture.
TEST_F(Plot, MemoryBeyondTheRingStaysWithin64KiBAtAnySize)
{
    for (int i = 0; i < kSlots; ++i)
        store(i % 2 ? std::array<int16_t, kChannels>{0, 4095, 0, 4095} : std::array<int16_t, kChannels>{4095, 0, 4095, 0});
    endTick();
    for (const QSize size : {QSize(8000, 300), QSize(1000, 1200)}) {
        QImage image(size, QImage::Format_RGB32);
        QPainter p(&image);
        plot.render(p, image.rect());
        EXPECT_GT(plot.heapBytes(), 0u);
        EXPECT_LE(plot.heapBytes(), 64u * 1024u) << size.width() << " x " << size.height();
    }
}

// Past the most columns the plot reduces to, each column spans to the next:
// a level trace is one unbroken line however wide the window.
TEST_F(Plot, AWidePlotDrawsItsColumnsWithoutGaps)
{
    for (int i = 0; i < kSlots; ++i)
        store({3000, 2048, 1000, 2048});
    endTick(kSlots);
    QImage img(5000, 400, QImage::Format_RGB32);
    {
        QPainter p(&img);
        plot.render(p, img.rect());
    }
    const QRect r = plot.plotRect(img.rect());
    const int y = rowOf(3000, img);
    int missing = 0;
    for (int x = r.left(); x <= r.right(); ++x)
        missing += img.pixel(x, y) != HistoryPlot::channelColor(0).rgb();
    EXPECT_EQ(missing, 0);
}

} // namespace
} // namespace adcard
