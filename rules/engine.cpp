#include "rules/engine.h"

#include <algorithm>
#include <cmath>

namespace adcard::rules {

namespace {

constexpr double kTickMs = 100.0;

} // namespace

Engine::Engine(RuleSet rules, const ChannelUnits &units, const Calibration &card, int channelCount, int scansPerBlock,
               double scansPerSecond)
    : rules_(std::move(rules)), channels_(std::max(1, channelCount)), state_(rules_.rules.size())
{
    (void)scansPerBlock; // blocks of any length are taken as they come
    for (std::size_t r = 0; r < rules_.rules.size(); ++r) {
        const auto *lw = std::get_if<LevelWhen>(&rules_.rules[r].when);
        if (!lw)
            continue;
        State &s = state_[r];
        // A channel the card does not deliver never fires.
        s.channel = lw->channel >= 1 && lw->channel <= channelCount ? lw->channel - 1 : -2;
        s.cal = inUnit(card, channelUnit(units, lw->channel - 1));
        s.trigger = levelTrigger(s.cal, lw->level);
        const double scans = std::ceil(lw->forMs * std::max(0.0, scansPerSecond) / 1000.0);
        s.need = std::max<int64_t>(1, static_cast<int64_t>(std::min(scans, 1e15)));
    }
}

void Engine::block(std::span<const int16_t> samples, int64_t firstScan)
{
    const int64_t scans = static_cast<int64_t>(samples.size()) / channels_;
    if (firstScan != nextScan_)
        for (State &s : state_)
            s.run = 0;
    nextScan_ = firstScan + scans;
    for (std::size_t r = 0; r < state_.size(); ++r)
        if (state_[r].channel >= 0)
            levelRule(r, samples, scans, firstScan);
}

// The one pass per rule and block: while the rule is clear, a scan costs a
// comparison of its code with the set where it fires; while it is active,
// with the set where it clears. The state changes only where one is found.
void Engine::levelRule(std::size_t r, std::span<const int16_t> samples, int64_t scans, int64_t firstScan)
{
    State &s = state_[r];
    const CodeSet fire = s.trigger.fire, clear = s.trigger.clear;
    const int16_t *p = samples.data() + s.channel;
    const int64_t stride = channels_, need = s.need;
    int64_t run = s.run;
    for (int64_t k = 0; k < scans; ++k) {
        if (!s.level.active) {
            for (; k < scans; ++k) {
                if (!fire.contains(p[k * stride]))
                    run = 0;
                else if (++run >= need)
                    break;
            }
        } else {
            while (k < scans && !clear.contains(p[k * stride]))
                ++k;
        }
        if (k == scans)
            break;
        const int32_t code = p[k * stride];
        s.active = s.level.step(s.trigger, code) > 0;
        run = 0;
        happened(r, firstScan + k, s.active, s.cal.volts(code), false);
    }
    s.run = run;
}

void Engine::inputs(int16_t port0, int16_t port1, int64_t scan)
{
    for (std::size_t r = 0; r < state_.size(); ++r)
        if (const auto *w = std::get_if<InputWhen>(&rules_.rules[r].when))
            inputRule(r, *w, static_cast<uint16_t>(w->port == 0 ? port0 : port1), scan);
}

// An edge is a condition on the bit (rising: set; falling: clear) that fires
// when it comes to hold, at the first reading too, and clears when it stops:
// the same as a pattern. "Either" fires at every change after the first
// reading and never holds.
void Engine::inputRule(std::size_t r, const InputWhen &w, uint16_t port, int64_t scan)
{
    State &s = state_[r];
    const int bit = (port >> w.bit) & 1;
    if (!w.match && w.edge == InputEdge::Either) {
        if (s.seen && bit != s.lastBit)
            happened(r, scan, true, port, true);
    } else {
        const bool holds = w.match ? (port & w.mask) == w.pattern : bit == (w.edge == InputEdge::Rising ? 1 : 0);
        if (holds != s.active) {
            s.active = holds;
            happened(r, scan, holds, port, true);
        }
    }
    s.seen = true;
    s.lastBit = bit;
}

void Engine::happened(std::size_t r, int64_t scan, bool fired, double value, bool fromInputs)
{
    const Rule &rule = rules_.rules[r];
    State &s = state_[r];
    events_.push_back({static_cast<int>(r), scan, fired, value});
    if (fired && rule.alarm && !s.alarm) {
        s.alarm = true;
        alarms_.push_back(events_.back());
    }
    if (!rule.output)
        return;
    if (fired && rule.output->mode == OutputMode::Pulse) {
        // Counted down at the end of each tick. A pulse fired by the inputs
        // is written after the tick's reading, so it is not counted down by
        // that tick: each pulse shows in the same number of ticks' readings.
        const int ticks = std::max(1, static_cast<int>(std::ceil(rule.output->pulseMs / kTickMs)));
        s.pulseTicks = ticks + (fromInputs ? 1 : 0);
    }
    if (fired && rule.output->mode == OutputMode::Latch) {
        s.latched = true;
        s.unlatchOnClear = false;
    }
    if (!fired && s.unlatchOnClear)
        s.latched = s.unlatchOnClear = false;
}

std::vector<Event> Engine::takeEvents()
{
    // Each rule's events are in order; across rules, order by scan.
    std::stable_sort(events_.begin(), events_.end(), [](const Event &a, const Event &b) { return a.scan < b.scan; });
    std::vector<Event> out;
    out.swap(events_);
    return out;
}

bool Engine::outputOn(std::size_t r) const
{
    const auto &o = rules_.rules[r].output;
    if (!o)
        return false;
    switch (o->mode) {
    case OutputMode::Hold: return state_[r].active;
    case OutputMode::Pulse: return state_[r].pulseTicks > 0;
    case OutputMode::Latch: return state_[r].latched;
    }
    return false;
}

uint8_t Engine::ownedMask(int group) const
{
    return ownedOutputBits(rules_.rules, group);
}

uint8_t Engine::ruleBits(int group) const
{
    unsigned bits = 0;
    for (std::size_t r = 0; r < state_.size(); ++r)
        if (rules_.rules[r].output && rules_.rules[r].output->group == group && outputOn(r))
            bits |= 1U << rules_.rules[r].output->bit;
    return static_cast<uint8_t>(bits);
}

void Engine::tickEnded()
{
    for (State &s : state_)
        if (s.pulseTicks > 0)
            --s.pulseTicks;
}

void Engine::acknowledge()
{
    for (State &s : state_) {
        s.alarm = false;
        if (!s.latched)
            continue;
        if (s.active)
            s.unlatchOnClear = true;
        else
            s.latched = false;
    }
    alarms_.clear();
}

std::vector<Event> Engine::pendingAlarms() const
{
    return alarms_;
}

bool Engine::hasCapture() const
{
    return std::any_of(rules_.rules.begin(), rules_.rules.end(), [](const Rule &r) { return r.capture.has_value(); });
}

double Engine::maxBeforeS() const
{
    double most = 0;
    for (const Rule &r : rules_.rules)
        if (r.capture)
            most = std::max(most, r.capture->beforeS);
    return most;
}

} // namespace adcard::rules
