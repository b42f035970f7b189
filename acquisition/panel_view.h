#pragma once
// What the acquisition logic needs from the window. The window implements it
// with real widgets; tests implement it with a recording fake, so the logic
// runs without a screen.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace adcard {

// The captions the logic writes. A typo is a compile error, and the window
// finds each label without building or hashing a name on every tick.
enum class Caption : std::size_t {
    Block,   // lblBlock: blocks received, or a Start's failure text
    RingPos, // lblptr
    Volts0,  // lblAD(0) .. lblAD(3): channels 1 to 4
    Volts1,
    Volts2,
    Volts3,
    DI,      // lblDI: both input ports in hexadecimal
    DI_0,    // lblDI_0: port 0 in hexadecimal and bits
    Bit,     // lblBit: the bit-number header
    DI_1,    // lblDI_1: port 1
};
inline constexpr std::size_t kCaptionCount = 10;

// The two text boxes the digital output reads.
enum class TextBox : std::size_t {
    Group, // txtswChn: the output group
    Value, // txtSWO_0: the output value in hexadecimal
};
inline constexpr std::size_t kTextBoxCount = 2;

// The control behind each, by the name an operator or a test finds it by.
struct ControlName {
    std::string_view name;
    int index; // within an indexed family, -1 otherwise
};
inline constexpr std::array<ControlName, kCaptionCount> kCaptionControls{{
    {"lblBlock", -1},
    {"lblptr", -1},
    {"lblAD", 0},
    {"lblAD", 1},
    {"lblAD", 2},
    {"lblAD", 3},
    {"lblDI", -1},
    {"lblDI_0", -1},
    {"lblBit", -1},
    {"lblDI_1", -1},
}};
inline constexpr std::array<ControlName, kTextBoxCount> kTextBoxControls{{
    {"txtswChn", -1},
    {"txtSWO_0", -1},
}};

constexpr ControlName controlOf(Caption c) { return kCaptionControls[static_cast<std::size_t>(c)]; }
constexpr ControlName controlOf(TextBox t) { return kTextBoxControls[static_cast<std::size_t>(t)]; }
constexpr Caption voltsCaption(int channel) { return static_cast<Caption>(static_cast<int>(Caption::Volts0) + channel); }

class PanelView {
public:
    virtual ~PanelView() = default;

    virtual void setCaption(Caption caption, std::string_view utf8) = 0;
    // The current text of a text box, as UTF-8.
    virtual std::string text(TextBox box) const = 0;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual bool timerEnabled() const = 0;
    // Close the window. The window's own close handling then runs the unload
    // step, exactly as when the operator uses the close box.
    virtual void unload() = 0;
    // Tell the operator, without a dialog, that a text box holds input that
    // cannot be used; an empty message clears the warning.
    virtual void setInputProblem(TextBox box, std::string_view utf8Message) = 0;
};

} // namespace adcard
