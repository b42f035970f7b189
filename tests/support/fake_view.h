#pragma once
// A PanelView that records what the logic shows, for tests without a screen.
#include "panel_view.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace adcard::testing {

class FakeView : public PanelView {
public:
    using Key = std::pair<std::string, int>;

    void setCaption(std::string_view control, int index, std::string_view utf8) override
    {
        captions[{std::string(control), index}] = std::string(utf8);
        log.emplace_back(std::string(control) + (index >= 0 ? "(" + std::to_string(index) + ")" : ""));
    }
    std::string text(std::string_view control) const override
    {
        auto it = texts.find(std::string(control));
        return it == texts.end() ? std::string() : it->second;
    }
    void setTimerEnabled(bool enabled) override { timer = enabled; }
    bool timerEnabled() const override { return timer; }
    void unload() override { ++unloads; }
    void setInputProblem(std::string_view control, std::string_view utf8Message) override
    {
        problems[std::string(control)] = std::string(utf8Message);
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
};

} // namespace adcard::testing
