#include "panel/window_placement.h"

#include <algorithm>
#include <optional>

namespace adcard {

QRect moveWithin(QRect r, const QRect &area)
{
    // Right and bottom first, so that an oversized window ends with its
    // top-left corner on the area's.
    r.moveLeft(std::max(area.left(), std::min(r.left(), area.left() + area.width() - r.width())));
    r.moveTop(std::max(area.top(), std::min(r.top(), area.top() + area.height() - r.height())));
    return r;
}

QRect fitWithin(QRect r, const QRect &area)
{
    r.setSize(r.size().boundedTo(area.size()));
    return moveWithin(r, area);
}

QRect panelClientRect(const QRect &screen, const QRect &available, QSize client, const QMargins &frame,
                      QPoint design)
{
    const QRect at(screen.topLeft() + design, client);
    return moveWithin(at.marginsAdded(frame), available).marginsRemoved(frame);
}

namespace {

// Room between two x positions (end exclusive) for a frame of `r`'s size,
// at most `wanted` wide; none where less than `minimum` is left.
std::optional<QRect> columnSpot(int left, int end, const HistoryRequest &r, bool alignRight)
{
    const int room = end - left;
    if (room < r.minimum.width())
        return std::nullopt;
    const int width = std::min(r.wanted.width(), room);
    const int height = std::clamp(r.wanted.height(), std::min(r.minimum.height(), r.area.height()), r.area.height());
    const int x = alignRight ? end - width : left;
    return moveWithin(QRect(x, r.panel.top(), width, height), r.area);
}

std::optional<QRect> beside(const HistoryRequest &r, bool onlyWhole)
{
    const int areaEnd = r.area.left() + r.area.width();
    const auto right = columnSpot(r.panel.right() + 1 + r.gap, areaEnd, r, false);
    const auto left = columnSpot(r.area.left(), r.panel.left() - r.gap, r, true);
    for (const auto &spot : {right, left})
        if (spot && spot->width() == r.wanted.width())
            return spot;
    if (onlyWhole)
        return std::nullopt;
    if (right && (!left || right->width() >= left->width()))
        return right;
    return left;
}

} // namespace

HistorySpot placeHistory(const HistoryRequest &r)
{
    if (const auto spot = beside(r, true))
        return {*spot, false, {}};
    if (const auto spot = beside(r, false))
        return {*spot, false, {}};
    // The panel to the left edge, then the same again on its right.
    HistoryRequest moved = r;
    const int shift = r.area.left() - r.panel.left();
    moved.panel.translate(shift, 0);
    moved.buttons.translate(shift, 0);
    const HistorySpot movedPanel{{}, shift != 0, moved.panel.topLeft()};
    if (const auto spot = columnSpot(moved.panel.right() + 1 + r.gap, r.area.left() + r.area.width(), moved, false)) {
        HistorySpot s = movedPanel;
        s.frame = *spot;
        return s;
    }
    // Over the panel's right margin, beside its buttons.
    if (const auto spot = columnSpot(moved.buttons.right() + 1 + r.gap, r.area.left() + r.area.width(), moved, false)) {
        HistorySpot s = movedPanel;
        s.frame = *spot;
        return s;
    }
    // Below the buttons, as wide as it likes.
    const int top = moved.buttons.bottom() + 1 + r.gap;
    const int room = r.area.top() + r.area.height() - top;
    if (room >= r.minimum.height()) {
        HistorySpot s = movedPanel;
        s.frame = moveWithin(QRect(r.area.left(), top, std::min(r.wanted.width(), r.area.width()),
                                   std::min(r.wanted.height(), room)),
                             r.area);
        return s;
    }
    // A screen smaller than the two windows' least: the history on it whole.
    return {fitWithin(QRect(r.area.topLeft(), r.wanted), r.area), false, {}};
}

QRect restoreFrame(const QRect &saved, std::span<const QRect> areas, const QRect &fallback)
{
    QRect best = fallback;
    qint64 overlap = 0;
    for (const QRect &a : areas) {
        const QRect common = a.intersected(saved);
        const qint64 size = qint64(common.width()) * common.height();
        if (size > overlap) {
            overlap = size;
            best = a;
        }
    }
    return fitWithin(saved, best);
}

} // namespace adcard
