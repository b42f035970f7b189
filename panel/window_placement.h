#pragma once
// Where the program's windows go on the screens there are: plain rectangle
// arithmetic, free of widgets, so that every case can be tried without a
// display. All rectangles are in the desktop's pixels; a window's "frame"
// is its outer rectangle with the window manager's title bar and borders.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <span>

namespace adcard {

// `r` moved the least distance to lie within `area`; where it is larger, its
// top-left corner (the title bar, to drag it by) goes to the area's.
QRect moveWithin(QRect r, const QRect &area);
// `r` no larger than `area`, then moved within it.
QRect fitWithin(QRect r, const QRect &area);

// The panel's client area: `design` from the screen's top-left corner
// (its position in twips, converted), moved so that its frame lies within
// the screen's available area.
QRect panelClientRect(const QRect &screen, const QRect &available, QSize client, const QMargins &frame,
                      QPoint design);

struct HistorySpot {
    QRect frame;           // the history window's frame
    bool movePanel = false; // the panel's frame goes to `panelTopLeft` first
    QPoint panelTopLeft;
};

struct HistoryRequest {
    QRect panel;   // the panel's frame
    QRect buttons; // the panel's buttons, which stay uncovered
    QRect area;    // the available area of the panel's screen
    QSize wanted;  // the history window's frame at the size it asks for
    QSize minimum; // and at the least it can be
    int gap = 8;   // between the two frames
};

// Beside the panel, on its right, else its left; shrunk toward `minimum`
// where neither side has room; else with the panel moved to the area's
// left edge; else beside or below the panel's buttons. Only on a screen
// too small for all of these does it cover them.
HistorySpot placeHistory(const HistoryRequest &r);

// A window's remembered frame on the screens of now: on the area it
// overlaps most, else on `fallback` (its screen was unplugged), fitted
// within that area.
QRect restoreFrame(const QRect &saved, std::span<const QRect> areas, const QRect &fallback);

} // namespace adcard
