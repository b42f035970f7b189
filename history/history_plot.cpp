#include "history/history_plot.h"

#include "acquisition/readout.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

constexpr double kVoltsTop = 5.0;
constexpr double kVoltsBottom = -5.0;

int voltsToY(double volts, const QRect &r)
{
    const double v = std::clamp(volts, kVoltsBottom, kVoltsTop);
    return r.top() + static_cast<int>(std::lround((kVoltsTop - v) / (kVoltsTop - kVoltsBottom) * (r.height() - 1)));
}

int columnsFor(const QRect &plot) { return std::clamp(plot.width(), 0, kMaxPlotColumns); }

constexpr int kDefaultSpan = 20;

int columnX(int column, int columns, const QRect &r)
{
    return r.left() + static_cast<int>(static_cast<int64_t>(column) * r.width() / columns);
}

} // namespace

HistoryPlot::HistoryPlot(const DllDef &dll) : dll_(dll) {}

QColor HistoryPlot::channelColor(int channel)
{
    // Apart in hue and lightness, so that they stay apart for most colour
    // vision deficiencies too.
    static const QColor colors[kPlotChannels] = {QColor(0, 114, 178), QColor(213, 94, 0), QColor(0, 158, 115),
                                                 QColor(204, 121, 167)};
    return colors[std::clamp(channel, 0, kPlotChannels - 1)];
}

void HistoryPlot::setChannelVisible(int channel, bool visible)
{
    if (channel < 0 || channel >= kPlotChannels)
        return;
    visible_[static_cast<std::size_t>(channel)] = visible;
    notify(0);
}

void HistoryPlot::notify(int shift)
{
    if (changed_)
        changed_(shift);
}

int HistoryPlot::span() const
{
    if (followed_)
        return followed_->ringBlocks;
    return dll_.settings.RingBlocks > 0 ? dll_.settings.RingBlocks : kDefaultSpan;
}

std::optional<HistoryPlot::Followed> HistoryPlot::follow(const DllDef &dll, int64_t handedOver, int32_t ringPos)
{
    const AcqSettings &s = dll.settings;
    Followed f;
    f.scansPerBlock = s.ScansPerBlock;
    f.channelCount = s.ChannelCount;
    f.ringBlocks = s.RingBlocks;
    if (f.scansPerBlock <= 0 || f.channelCount <= 0 || f.ringBlocks <= 0 || handedOver <= 0)
        return std::nullopt;
    const int64_t samples = int64_t{f.scansPerBlock} * f.channelCount;
    if (samples > INT32_MAX || static_cast<int64_t>(dll.HistoryRing.size()) < samples * f.ringBlocks ||
        ringPos < 0 || ringPos % samples != 0 || ringPos / samples >= f.ringBlocks)
        return std::nullopt;
    f.blockSamples = static_cast<int32_t>(samples);
    // RingPos has moved past the newest block.
    f.newestSlot = static_cast<int>((ringPos / samples + f.ringBlocks - 1) % f.ringBlocks);
    f.blocks = static_cast<int>(std::min<int64_t>(handedOver, f.ringBlocks));
    return f;
}

void HistoryPlot::catchUp()
{
    std::optional<Followed> f = follow(dll_, INT32_MAX, dll_.RingPos);
    if (!f)
        return;
    followed_ = f;
    int blocks = 0;
    while (blocks < f->ringBlocks) {
        const int16_t *block = dll_.HistoryRing.data() + static_cast<std::ptrdiff_t>(slotAt(f->ringBlocks - 1 - blocks)) *
                                                             f->blockSamples;
        if (std::all_of(block, block + f->blockSamples, [](int16_t v) { return v == 0; }))
            break;
        ++blocks;
    }
    followed_->blocks = blocks;
    if (blocks == 0)
        followed_.reset();
    reduced_ = false;
}

void HistoryPlot::historyStarted(const AcqSettings &)
{
    // The arrays are new and all zero: nothing of the old history is left.
    handedOver_ = 0;
    followed_.reset();
    reduced_ = false;
    notify(0);
}

void HistoryPlot::blockStored(const StoredBlock &block) { handedOver_ = block.handedOver; }

void HistoryPlot::tickEnded(const TickSummary &tick)
{
    if (tick.stored <= 0)
        return;
    // Only note where the blocks are; the ring is read when the plot is
    // drawn, so the tick never pays for the drawing.
    const std::optional<Followed> before = followed_;
    followed_ = follow(dll_, handedOver_, tick.ringPos);
    const int columns = static_cast<int>(columns_.size());
    const bool sameShape = before && followed_ && before->ringBlocks == followed_->ringBlocks &&
                           before->blockSamples == followed_->blockSamples &&
                           before->channelCount == followed_->channelCount;
    if (!sameShape || !reduced_ || columns % followed_->ringBlocks != 0 || tick.stored >= followed_->ringBlocks ||
        (before->newestSlot + tick.stored) % followed_->ringBlocks != followed_->newestSlot) {
        reduced_ = false;
        notify(0);
        return;
    }
    // The picture moves left by the new blocks: keep the columns of the
    // blocks still shown and reduce only the new ones.
    const int perBlock = columns / followed_->ringBlocks;
    const int shift = tick.stored * perBlock;
    std::move(columns_.begin() + shift, columns_.end(), columns_.begin());
    reducePositions(followed_->ringBlocks - tick.stored, columns);
    notify(shift);
}

int HistoryPlot::slotAt(int p) const
{
    const Followed &f = *followed_;
    const int back = f.ringBlocks - 1 - p; // blocks before the newest
    return ((f.newestSlot - back) % f.ringBlocks + f.ringBlocks) % f.ringBlocks;
}

void HistoryPlot::reduce(int columns) const
{
    if (reduced_ && static_cast<int>(columns_.size()) == columns)
        return;
    columns_.resize(static_cast<std::size_t>(columns));
    reduced_ = true;
    reducePositions(0, columns);
}

void HistoryPlot::reducePositions(int from, int columns) const
{
    if (columns <= 0)
        return;
    const Column empty{{INT16_MAX, INT16_MAX, INT16_MAX, INT16_MAX}, {INT16_MIN, INT16_MIN, INT16_MIN, INT16_MIN}};
    if (!followed_) {
        std::fill(columns_.begin(), columns_.end(), empty);
        return;
    }
    const Followed &f = *followed_;
    const int64_t totalScans = int64_t{f.ringBlocks} * f.scansPerBlock;
    // Every column that takes a scan of position `from` or later.
    const auto firstColumn = static_cast<std::size_t>(int64_t{from} * f.scansPerBlock * columns / totalScans);
    std::fill(columns_.begin() + static_cast<std::ptrdiff_t>(firstColumn), columns_.end(), empty);
    const int channels = std::min<int>(f.channelCount, kPlotChannels);
    const int16_t *ring = dll_.HistoryRing.data();
    for (int p = std::max(from, f.ringBlocks - f.blocks); p < f.ringBlocks; ++p) {
        const int16_t *block = ring + static_cast<std::ptrdiff_t>(slotAt(p)) * f.blockSamples;
        const int64_t first = int64_t{p} * f.scansPerBlock;
        for (int32_t k = 0; k < f.scansPerBlock; ++k) {
            Column &col = columns_[static_cast<std::size_t>((first + k) * columns / totalScans)];
            const int16_t *scan = block + static_cast<std::ptrdiff_t>(k) * f.channelCount;
            for (int c = 0; c < channels; ++c) {
                col.lo[c] = std::min(col.lo[c], scan[c]);
                col.hi[c] = std::max(col.hi[c], scan[c]);
            }
        }
    }
}

std::optional<std::array<int16_t, kPlotChannels>> HistoryPlot::samplesAtColumn(int column, int columns) const
{
    if (!followed_ || columns <= 0 || column < 0 || column >= columns)
        return std::nullopt;
    const Followed &f = *followed_;
    const int64_t totalScans = int64_t{f.ringBlocks} * f.scansPerBlock;
    const int64_t g = (2 * int64_t{column} + 1) * totalScans / (2 * int64_t{columns});
    const int p = static_cast<int>(g / f.scansPerBlock);
    if (p < f.ringBlocks - f.blocks)
        return std::nullopt;
    const std::size_t at = static_cast<std::size_t>(slotAt(p)) * static_cast<std::size_t>(f.blockSamples) +
                           static_cast<std::size_t>(g % f.scansPerBlock) * static_cast<std::size_t>(f.channelCount);
    std::array<int16_t, kPlotChannels> out{};
    for (int c = 0; c < std::min<int>(f.channelCount, kPlotChannels); ++c)
        out[static_cast<std::size_t>(c)] = dll_.HistoryRing[at + static_cast<std::size_t>(c)];
    return out;
}

std::optional<std::array<int32_t, kPlotChannels>> HistoryPlot::newestMeans() const
{
    if (!followed_)
        return std::nullopt;
    const Followed &f = *followed_;
    const int16_t *block = dll_.HistoryRing.data() + static_cast<std::ptrdiff_t>(f.newestSlot) * f.blockSamples;
    std::array<int32_t, kPlotChannels> out{};
    for (int c = 0; c < std::min<int>(f.channelCount, kPlotChannels); ++c) {
        // Summed and rounded as the panel's readout does it, so both agree.
        float sum = 0.0f;
        for (int32_t k = 0; k < f.scansPerBlock; ++k)
            sum += static_cast<float>(block[static_cast<std::ptrdiff_t>(k) * f.channelCount + c]);
        out[static_cast<std::size_t>(c)] =
            static_cast<int32_t>(std::nearbyint(static_cast<double>(sum) / f.scansPerBlock));
    }
    return out;
}

QRect HistoryPlot::plotRect(const QRect &area) const
{
    QRect r = area.adjusted(60, 11, -13, -27); // the frame goes around it
    const int n = span();
    if (r.width() >= n && r.width() <= kMaxPlotColumns)
        r.setLeft(r.right() + 1 - r.width() / n * n); // newest flush right
    return r;
}

void HistoryPlot::render(QPainter &p, const QRect &area, const QRect &dirtyArea) const
{
    const QRect dirty = dirtyArea.isEmpty() ? area : (dirtyArea & area);
    const QRect r = plotRect(area);
    p.save();
    p.fillRect(dirty, Qt::white);
    if (r.width() < 2 || r.height() < 2) {
        p.restore();
        return;
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics fm = p.fontMetrics();
    const QColor gridColor(224, 224, 224);
    const QColor axisColor(96, 96, 96);
    const auto drawLabel = [&](const QRect &box, int flags, const QString &text) {
        if (box.intersects(dirty)) // shaping text is the dear part of a strip
            p.drawText(box, flags, text);
    };

    // Volts: a line every volt, a label every 2.5 V.
    for (int tenths = -50; tenths <= 50; tenths += 10) {
        const int y = voltsToY(tenths / 10.0, r);
        p.setPen(tenths == 0 ? axisColor : gridColor);
        p.drawLine(r.left(), y, r.right(), y);
    }
    p.setPen(axisColor);
    const int labelRight = r.left() - 6;
    for (int tenths = -50; tenths <= 50; tenths += 25) {
        const int y = voltsToY(tenths / 10.0, r);
        drawLabel(QRect(area.left(), y - fm.height() / 2, labelRight - area.left(), fm.height()),
                  Qt::AlignRight | Qt::AlignVCenter, QString::number(tenths / 10.0, 'f', 1) + QStringLiteral(" V"));
    }

    // Blocks: 0 at the newest block's end, a line at every block boundary,
    // each the same grey, so that moving the picture moves them too.
    const int n = span();
    const auto boundaryX = [&](int b) { return r.left() + static_cast<int>(int64_t{b} * r.width() / n); };
    p.setPen(gridColor);
    for (int b = 0; b < n; ++b)
        p.drawLine(boundaryX(b), r.top(), boundaryX(b), r.bottom());
    p.setPen(axisColor);
    for (int b = 0; b < n; ++b)
        if ((b - n) % 5 == 0)
            drawLabel(QRect(boundaryX(b) - 30, r.bottom() + 5, 60, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                      QString::number(b - n));
    // The newest block's end, with the axis' unit: blocks, not seconds (the
    // panel does not know the card's rate).
    drawLabel(QRect(r.right() - 80, r.bottom() + 5, 80 + area.right() - r.right(), fm.height()),
              Qt::AlignRight | Qt::AlignTop, QStringLiteral("0 块"));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(-1, -1, 0, 0)); // just outside the traces

    const int columns = columnsFor(r);
    reduce(columns);
    if (followed_ && columns > 0) {
        const int channels = std::min<int>(followed_->channelCount, kPlotChannels);
        // Only the columns in `dirty`, and the one before for the join.
        const int first = std::clamp(
            static_cast<int>(int64_t{dirty.left() - r.left()} * columns / r.width()) - 1, 0, columns - 1);
        const int last = std::clamp(
            static_cast<int>(int64_t{dirty.right() - r.left() + 1} * columns / r.width()) + 1, 0, columns - 1);
        // One-pixel-wide rectangles, handed over in batches: the raster
        // engine fills them faster than it strokes lines.
        std::array<QRect, 256> rects; // 4 KiB on the stack, nothing on the heap
        p.setPen(Qt::NoPen);
        for (int c = 0; c < channels; ++c) {
            if (!visible_[static_cast<std::size_t>(c)])
                continue;
            p.setBrush(channelColor(c));
            std::size_t batch = 0;
            bool prevValid = false;
            int prevTop = 0;
            int prevBottom = 0;
            for (int i = first; i <= last; ++i) {
                const Column &col = columns_[static_cast<std::size_t>(i)];
                if (col.lo[c] > col.hi[c]) {
                    prevValid = false;
                    continue;
                }
                int top = voltsToY(codeToVolts(col.hi[c]), r);
                int bottom = voltsToY(codeToVolts(col.lo[c]), r);
                const int nextTop = top;
                const int nextBottom = bottom;
                // Join the previous column, so that a steep edge is one
                // line; not across blocks, which are separate fetches (and
                // so a moved picture's leftmost column needs no neighbour).
                if (prevValid && int64_t{i} * n / columns == int64_t{i - 1} * n / columns) {
                    top = std::min(top, prevBottom);
                    bottom = std::max(bottom, prevTop);
                }
                prevValid = true;
                prevTop = nextTop;
                prevBottom = nextBottom;
                // A column is wider than a pixel only past kMaxPlotColumns:
                // it then spans to the next one's left edge, leaving no gap.
                const int x = columnX(i, columns, r);
                const int width = std::max(1, columnX(i + 1, columns, r) - x);
                rects[batch++] = QRect(x, top, width, bottom - top + 1);
                if (batch == rects.size()) {
                    p.drawRects(rects.data(), static_cast<int>(batch));
                    batch = 0;
                }
            }
            if (batch)
                p.drawRects(rects.data(), static_cast<int>(batch));
        }
    }
    p.restore();
}

} // namespace adcard
