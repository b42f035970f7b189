// Where the windows go, as arithmetic: a laptop, a desktop, a screen too
// small for both windows, a second screen to the left, and a remembered
// window whose screen has gone.
#include "panel/window_placement.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <vector>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

// The panel as openbox frames it at 96 dpi: 384 x 385 with a 20 px title bar
// and 1 px borders; its buttons' union as the window lays them out.
const QMargins kFrame(1, 20, 1, 1);
const QSize kPanel(384, 385);
const QPoint kDesign(171, 159); // 2565 and 2385 twips
const QRect kButtonsInClient(218, 26, 132, 306);

QRect panelFrameAt(QPoint client) { return QRect(client, kPanel).marginsAdded(kFrame); }
QRect buttonsAt(QPoint client) { return kButtonsInClient.translated(client); }

struct PanelRow {
    const char *name;
    QRect screen, available;
    QPoint clientAt;
};

class PanelPlacement : public ::testing::TestWithParam<PanelRow> {};

TEST_P(PanelPlacement, DesignPositionWithinTheScreen)
{
    const PanelRow &r = GetParam();
    const QRect client = panelClientRect(r.screen, r.available, kPanel, kFrame, kDesign);
    EXPECT_EQ(client.topLeft(), r.clientAt);
    EXPECT_EQ(client.size(), kPanel);
    EXPECT_TRUE(r.available.contains(client.marginsAdded(kFrame)));
}

const PanelRow kPanelRows[] = {
    {"laptop", {0, 0, 1366, 768}, {0, 0, 1366, 768}, {171, 159}},
    {"second_screen_right", {1920, 0, 1366, 768}, {1920, 0, 1366, 768}, {2091, 159}},
    {"tall_task_bar_on_top", {0, 0, 1366, 768}, {0, 200, 1366, 568}, {171, 220}},
    {"short_screen", {0, 0, 600, 420}, {0, 0, 600, 420}, {171, 34}},
};
INSTANTIATE_TEST_SUITE_P(Rows, PanelPlacement, ::testing::ValuesIn(kPanelRows), kRowName);

struct HistoryRow {
    const char *name;
    QRect area;
    QPoint panelClient;
    QSize wanted, minimum;
    QRect frame;
    bool movePanel;
};

class HistoryPlacement : public ::testing::TestWithParam<HistoryRow> {};

TEST_P(HistoryPlacement, BesideThePanelNeverOverItsButtons)
{
    const HistoryRow &r = GetParam();
    HistoryRequest req{panelFrameAt(r.panelClient), buttonsAt(r.panelClient), r.area, r.wanted, r.minimum, 8};
    const HistorySpot spot = placeHistory(req);
    EXPECT_EQ(spot.frame, r.frame);
    EXPECT_EQ(spot.movePanel, r.movePanel);
    EXPECT_TRUE(r.area.contains(spot.frame));
    QRect panel = req.panel, buttons = req.buttons;
    if (spot.movePanel) {
        buttons.translate(spot.panelTopLeft - panel.topLeft());
        panel.moveTopLeft(spot.panelTopLeft);
        EXPECT_TRUE(r.area.contains(panel));
    }
    if (r.area.width() >= 1024) {
        EXPECT_FALSE(spot.frame.intersects(buttons)) << "covers the panel's buttons";
    }
}

const HistoryRow kHistoryRows[] = {
    // 802 px to the right of the panel at its design position: just enough.
    {"laptop_right_exactly", {0, 0, 1366, 768}, {171, 159}, {802, 445}, {700, 300}, {564, 139, 802, 445}, false},
    {"laptop_wider_shrinks", {0, 0, 1366, 768}, {171, 159}, {820, 445}, {700, 300}, {564, 139, 802, 445}, false},
    {"desktop_right", {0, 0, 1920, 1080}, {171, 159}, {802, 445}, {700, 300}, {564, 139, 802, 445}, false},
    {"centred_panel_goes_left", {0, 0, 1366, 768}, {900, 200}, {802, 445}, {700, 300}, {89, 180, 802, 445}, false},
    {"no_room_either_side_moves_panel", {0, 0, 1366, 768}, {500, 159}, {1000, 445}, {900, 300},
     {394, 139, 972, 445}, true},
    {"tall_window_shrinks_to_screen", {0, 0, 1366, 768}, {171, 700}, {802, 900}, {700, 300}, {564, 0, 802, 768}, false},
    {"beside_the_buttons", {0, 0, 1024, 768}, {171, 159}, {1000, 445}, {660, 300}, {359, 139, 665, 445}, true},
    {"below_the_buttons", {0, 0, 1024, 768}, {171, 159}, {1000, 445}, {800, 250}, {0, 499, 1000, 269}, true},
    {"second_screen_left_of_it", {-1366, 0, 1366, 768}, {-1195, 159}, {802, 445}, {700, 300},
     {-802, 139, 802, 445}, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, HistoryPlacement, ::testing::ValuesIn(kHistoryRows), kRowName);

struct RestoreRow {
    const char *name;
    QRect saved;
    std::vector<QRect> areas;
    QRect frame;
};

class RestorePlacement : public ::testing::TestWithParam<RestoreRow> {};

TEST_P(RestorePlacement, OnTheScreensOfNow)
{
    const RestoreRow &r = GetParam();
    const QRect fallback = r.areas.empty() ? QRect(0, 0, 1366, 768) : r.areas.front();
    EXPECT_EQ(restoreFrame(r.saved, r.areas, fallback), r.frame);
}

const RestoreRow kRestoreRows[] = {
    {"as_left", {100, 80, 802, 445}, {{0, 0, 1920, 1080}}, {100, 80, 802, 445}},
    {"half_off_the_right", {1500, 700, 802, 445}, {{0, 0, 1920, 1080}}, {1118, 635, 802, 445}},
    {"title_bar_above_the_top", {100, -10, 802, 445}, {{0, 0, 1920, 1080}}, {100, 0, 802, 445}},
    {"second_screen_unplugged", {2200, 100, 802, 445}, {{0, 0, 1366, 768}}, {564, 100, 802, 445}},
    {"on_the_second_screen", {2200, 100, 802, 445}, {{0, 0, 1366, 768}, {1366, 0, 1920, 1080}},
     {2200, 100, 802, 445}},
    {"mostly_on_the_second", {1200, 100, 802, 445}, {{0, 0, 1366, 768}, {1366, 0, 1920, 1080}},
     {1366, 100, 802, 445}},
    {"larger_than_the_laptop", {0, 0, 1600, 1000}, {{0, 0, 1366, 740}}, {0, 0, 1366, 740}},
};
INSTANTIATE_TEST_SUITE_P(Rows, RestorePlacement, ::testing::ValuesIn(kRestoreRows), kRowName);

} // namespace
} // namespace adcard
