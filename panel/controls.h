#pragma once
// The window's controls as one table: the window is built from it and the
// tests walk it, so the two cannot drift apart.
//
// Object names: a plain control keeps its name ("lblDI_0", "cmdStart"); a
// member of an indexed family is "name(index)" ("lblAD(0)", "Label1(12)").
// Parentheses never occur in a plain name, so "lblDI_0" and a family member
// cannot collide.
#include <span>
#include <string>
#include <string_view>

namespace adcard {

enum class ControlKind {
    Button,     // QPushButton
    TextBox,    // QLineEdit
    Frame,      // QGroupBox with a caption
    Label,      // QLabel sized to its text after every change
    FixedLabel, // QLabel of fixed size with a coloured background
    Timer,      // QTimer, no geometry
};

struct ControlDef {
    std::string_view name;
    int index;               // -1 when the control is not in an indexed family
    ControlKind kind;
    std::string_view parent; // frame name, empty for the window itself
    std::string_view text;   // UTF-8
    int left, top, width, height; // twips; frame children relative to the frame
};

inline constexpr int kClientWidthTwips = 5760;
inline constexpr int kClientHeightTwips = 5775;
// Where the window's client area opens: from the screen's left and top edges.
inline constexpr int kClientLeftTwips = 2565;
inline constexpr int kClientTopTwips = 2385;
inline constexpr int kTimerIntervalMs = 100;

std::span<const ControlDef> controlTable();

// px = round(twips * dpi / 1440); 15 twips per pixel at 96 dpi.
int twipsToPixels(int twips, double dpi);

std::string objectNameFor(std::string_view name, int index);

} // namespace adcard
