#pragma once
// A PanelView that records what the logic shows, for tests without a screen.
#include "acquisition/panel_view.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace adcard::testing {

class FakeView : public PanelView {
public:
    using Key = std::pair<std::string, int>;

    // Kept under the control's own name, so tests read as the window does.
    void setCaption(Caption caption, std::string_view utf8) override
    {
        const ControlName c = controlOf(caption);
        captions[{std::string(c.name), c.index}] = std::string(utf8);
        log.emplace_back(std::string(c.name) + (c.index >= 0 ? "(" + std::to_string(c.index) + ")" : ""));
    }
    std::string text(TextBox box) const override
    {
        auto it = texts.find(std::string(controlOf(box).name));
        return it == texts.end() ? std::string() : it->second;
    }
    void setTimerEnabled(bool enabled) override { timer = enabled; }
    bool timerEnabled() const override { return timer; }
    // As the window does: closing runs the unload step, once however often
    // it is asked.
    void unload() override
    {
        ++unloads;
        if (closed)
            return;
        closed = true;
        timer = false;
        if (onUnload)
            onUnload();
    }
    void setInputProblem(TextBox box, std::string_view utf8Message) override
    {
        problems[std::string(controlOf(box).name)] = std::string(utf8Message);
    }

    // The caption last set, or "<unset>".
    std::string caption(const std::string &control, int index = -1) const
    {
        auto it = captions.find({control, index});
        return it == captions.end() ? std::string("<unset>") : it->second;
    }
    std::string problem(const std::string &control) const
    {
        auto it = problems.find(control);
        return it == problems.end() ? std::string() : it->second;
    }

    std::map<Key, std::string> captions;
    std::vector<std::string> log; // caption writes in order
    std::map<std::string, std::string> texts;
    std::map<std::string, std::string> problems;
    bool timer = false;
    int unloads = 0;
    bool closed = false;
    std::function<void()> onUnload; // the window's unload step: Acquisition::onUnload

};

} // namespace adcard::testing
