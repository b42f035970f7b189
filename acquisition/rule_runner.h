#pragma once
// The armed rules as the acquisition runs them: the evaluator fed with every
// stored block and every reading of the inputs, the output bytes the panel
// last wrote, the bits the rules own, and the events handed to the block
// hooks. Writing an output is the one driver call the rules add to the tick;
// anything slower (closing a recording, stopping) goes to the listener,
// which hands it off.
#include "acquisition/block_hook.h"
#include "data/channel_units.h"
#include "rules/engine.h"
#include "rules/rules.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

class CardDriver;

// "4.1245 V": an event's value with the digits its channel's code step
// justifies, and its unit.
std::string valueText(const RuleEvent &e);

// What the panel does for a rule that asks to stop something, or for an
// alarm; called at the end of the tick, after every hook has seen it.
class RuleListener {
public:
    virtual ~RuleListener() = default;
    virtual void ruleStops(rules::StopWhat what, std::string_view rule) = 0;
    // `valueText`: the value with its unit, as the windows write it.
    virtual void ruleAlarm(std::string_view rule, int64_t scan, std::string_view valueText)
    {
        (void)rule, (void)scan, (void)valueText;
    }
    // The bits the rules own, or the bytes written, changed.
    virtual void ruleOutputsChanged() {}
};

class RuleRunner {
public:
    // Rules armed from now on (the next Start, or now if one runs); the
    // units are the channels' at arming.
    void arm(rules::RuleSet set, ChannelUnits units, const AcqSettings *running);
    // Rule-owned bits go back to 0 first, as at Stop.
    void disarm(CardDriver &driver);
    bool armed() const { return set_.has_value(); }
    const rules::RuleSet *ruleSet() const { return set_ ? &*set_ : nullptr; }
    const rules::Engine *engine() const { return engine_.get(); }

    // A history began: the evaluator starts again from its first scan.
    void historyStarted(const AcqSettings &settings);
    // One stored block, the first of whose scans is `firstScan`.
    void blockStored(std::span<const int16_t> samples, int64_t firstScan);
    void inputsRead(int16_t port0, int16_t port1, int64_t scan);
    // Writes each group whose byte the rules changed; then hands the events
    // to `notify` (the hooks), noting on a rule's events where its output
    // could not be written.
    void settle(CardDriver &driver, const std::function<void(const RuleEvent &)> &notify);
    // End of a tick: pulses count down, stops and alarms go to the listener.
    void tickEnded();
    // Stop, Exit: every bit a rule owns returns to 0, latched ones too.
    void release(CardDriver &driver);
    void acknowledge();

    // The byte for `group` when the operator writes `value` there: the bits
    // the rules own keep the rules' state.
    int16_t operatorByte(int16_t group, int16_t value);
    // What the panel last wrote to groups 0 and 1 (-1: nothing yet).
    std::array<int, 2> lastWritten() const { return last_; }
    uint8_t ownedMask(int group) const;

    void setListener(RuleListener *l) { listener_ = l; }

private:
    bool writeGroup(CardDriver &driver, int group, int16_t byte);

    std::optional<rules::RuleSet> set_;
    ChannelUnits units_;
    std::unique_ptr<rules::Engine> engine_;
    RuleListener *listener_ = nullptr;
    std::array<int, 2> last_{-1, -1};
    std::vector<rules::Event> pending_;
    std::vector<std::pair<rules::StopWhat, std::string>> stops_;
    struct Alarm {
        std::string rule;
        int64_t scan;
        std::string valueText;
    };
    std::vector<Alarm> alarms_;
    std::array<std::string, 2> failure_; // why the last write of a group failed, or empty
};

} // namespace adcard
