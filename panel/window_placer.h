#pragma once
// The program's windows on the screens there are (window_placement.h does
// the arithmetic): the panel at its design position, the history window
// beside it, and the history and review windows where the operator left
// them last, each wholly within the available area of its screen with its
// frame.
#include <QString>

class QWidget;

namespace adcard {

// Before the panel is first shown.
void placePanel(QWidget &panel);
// Before the history window is first shown: where it was left, unless that
// covers the panel's buttons, else beside the panel. May move the panel.
void placeHistoryWindow(QWidget &history, QWidget &panel);
// Before a review window is first shown: where the last one was left, else
// in the middle of its screen.
void placeReviewWindow(QWidget &review);

} // namespace adcard
