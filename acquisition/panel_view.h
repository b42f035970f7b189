#pragma once
// What the acquisition logic needs from the window. The window implements it
// with real widgets; tests implement it with a recording fake, so the logic
// runs without a screen.
#include <string>
#include <string_view>

namespace adcard {

class PanelView {
public:
    virtual ~PanelView() = default;

    // Replace a label's caption. `control` is the control's name ("lblBlock",
    // "lblAD", ...); `index` is the index within an indexed family, -1 otherwise.
    virtual void setCaption(std::string_view control, int index, std::string_view utf8) = 0;
    // The current text of a text box ("txtswChn", "txtSWO_0"), as UTF-8.
    virtual std::string text(std::string_view control) const = 0;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual bool timerEnabled() const = 0;
    // Close the window; the window's own close handling runs the unload step.
    virtual void unload() = 0;
    // Tell the operator, without a dialog, that a text box holds input that
    // cannot be used; an empty message clears the warning.
    virtual void setInputProblem(std::string_view control, std::string_view utf8Message) = 0;
};

} // namespace adcard
