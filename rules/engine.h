#pragma once
// The rules at work over one arming: every scan of every block through each
// level rule, the inputs of every tick through each input rule, and the
// state of the actions (outputs, alarms) that the acquisition carries out.
// Nothing here waits, touches the driver or reads a clock: the caller writes
// the bits, records the events and stops what a rule stops.
#include "data/level.h"
#include "rules/rules.h"

#include <cstdint>
#include <span>
#include <vector>

namespace adcard::rules {

struct Event {
    int rule = 0;     // index into the rules
    int64_t scan = 0; // where it fired or cleared
    bool fired = true;
    double value = 0; // the value that decided, in the channel's unit; an input's port value
};

class Engine {
public:
    // `units`: the channels' units at arming (later changes apply at the next
    // arming). `scansPerSecond` turns a rule's for_ms into scans.
    Engine(RuleSet rules, const ChannelUnits &units, const Calibration &card, int channelCount, int scansPerBlock,
           double scansPerSecond);

    const RuleSet &rules() const { return rules_; }

    // Every scan of one block, interleaved (channel c of scan k at
    // k * channelCount + c); `firstScan` counts from the history's start.
    // Scans that do not follow the previous block's (a block that never
    // came) break every for_ms count.
    void block(std::span<const int16_t> samples, int64_t firstScan);
    // The inputs as one tick read them; `scan` = the scans harvested so far.
    void inputs(int16_t port0, int16_t port1, int64_t scan);
    // The events since the last call, in scan order.
    std::vector<Event> takeEvents();

    // The bits of `group` (0 or 1) that rules own, and the rules' bits there now.
    uint8_t ownedMask(int group) const;
    uint8_t ruleBits(int group) const;
    // The end of a tick: pulses count down in whole ticks.
    void tickEnded();
    // The operator acknowledges: every alarm ends, and a latched output
    // clears, at once where its rule is no longer active, or else when its
    // rule clears (an acknowledgement does not drop an output whose
    // condition still holds).
    void acknowledge();
    // Alarms not yet acknowledged, one per rule: the first firing since the
    // last acknowledgement.
    std::vector<Event> pendingAlarms() const;

    bool hasCapture() const;
    double maxBeforeS() const;
    // Whether rule `rule`'s condition holds now (for the dialog's table).
    bool active(int rule) const { return state_.at(std::size_t(rule)).active; }

private:
    struct State {
        // Level rules.
        int channel = -1; // from 0; -1 for an input rule
        LevelTrigger trigger;
        Calibration cal;
        int64_t need = 1; // scans the condition must hold before it fires
        int64_t run = 0;  // scans it has held so far
        LevelState level;
        // Input rules.
        bool seen = false;
        int lastBit = 0;
        // Both.
        bool active = false;
        // Actions.
        int pulseTicks = 0;
        bool latched = false, unlatchOnClear = false;
        bool alarm = false;
    };

    void levelRule(std::size_t r, std::span<const int16_t> samples, int64_t scans, int64_t firstScan);
    void inputRule(std::size_t r, const InputWhen &w, uint16_t port, int64_t scan);
    void happened(std::size_t r, int64_t scan, bool fired, double value, bool fromInputs);
    bool outputOn(std::size_t r) const;

    RuleSet rules_;
    int channels_;
    std::vector<State> state_;
    std::vector<Event> events_;
    std::vector<Event> alarms_;
    int64_t nextScan_ = -1;
};

} // namespace adcard::rules
