#include "acquisition/rule_runner.h"

#include "data/calibration.h"
#include "driver/card_driver.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <variant>

namespace adcard {

std::string valueText(const RuleEvent &e)
{
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", std::clamp(e.decimals, 0, 9), e.value);
    std::string text = digits;
    if (!e.unit.empty())
        text.append(" ").append(e.unit);
    return text;
}

void RuleRunner::arm(rules::RuleSet set, ChannelUnits units, const AcqSettings *running)
{
    set_ = std::move(set);
    units_ = std::move(units);
    engine_.reset();
    pending_.clear();
    if (running)
        historyStarted(*running);
    if (listener_)
        listener_->ruleOutputsChanged();
}

void RuleRunner::disarm(CardDriver &driver)
{
    release(driver);
    set_.reset();
    engine_.reset();
    pending_.clear();
    stops_.clear();
    alarms_.clear();
    if (listener_)
        listener_->ruleOutputsChanged();
}

void RuleRunner::historyStarted(const AcqSettings &s)
{
    pending_.clear();
    if (!set_) {
        engine_.reset();
        return;
    }
    engine_ = std::make_unique<rules::Engine>(*set_, units_, kPanelCalibration, s.ChannelCount, s.ScansPerBlock,
                                              static_cast<double>(s.IntrArg5));
}

void RuleRunner::blockStored(std::span<const int16_t> samples, int64_t firstScan)
{
    if (engine_)
        engine_->block(samples, firstScan);
}

void RuleRunner::inputsRead(int16_t port0, int16_t port1, int64_t scan)
{
    if (engine_)
        engine_->inputs(port0, port1, scan);
}

uint8_t RuleRunner::ownedMask(int group) const
{
    // From the armed rules, not the evaluator: the bits stay theirs between
    // a Stop and the next Start, when there is no evaluator.
    return set_ ? rules::ownedOutputBits(set_->rules, group) : 0;
}

bool RuleRunner::writeGroup(CardDriver &driver, int group, int16_t byte)
{
    const int16_t result = driver.Tvo_DO(static_cast<int16_t>(group), byte);
    last_[std::size_t(group)] = byte;
    // The output button does not look at the result; a rule that drives a
    // device must say when the driver did not take the write.
    if (result == 1) {
        failure_[std::size_t(group)].clear();
        return true;
    }
    failure_[std::size_t(group)] =
        "输出组 " + std::to_string(group) + " 写入失败（驱动程序返回 " + std::to_string(result) + "）";
    return false;
}

void RuleRunner::settle(CardDriver &driver, const std::function<void(const RuleEvent &)> &notify)
{
    if (!engine_)
        return;
    for (rules::Event &e : engine_->takeEvents())
        pending_.push_back(e);

    std::array<bool, 2> failedNow{};
    bool wrote = false;
    for (int g = 0; g < 2; ++g) {
        const uint8_t owned = ownedMask(g);
        if (!owned)
            continue;
        const int base = last_[std::size_t(g)] < 0 ? 0 : last_[std::size_t(g)];
        const auto byte = static_cast<int16_t>((base & ~owned) | (engine_->ruleBits(g) & owned));
        if (byte == base && last_[std::size_t(g)] >= 0)
            continue;
        if (byte == 0 && last_[std::size_t(g)] < 0)
            continue; // nothing the rules set, and nothing written yet
        failedNow[std::size_t(g)] = !writeGroup(driver, g, byte);
        wrote = true;
    }

    std::string unitText;
    for (const rules::Event &e : pending_) {
        const rules::Rule &rule = set_->rules[std::size_t(e.rule)];
        std::string_view note;
        if (rule.output && rule.output->group >= 0 && rule.output->group < 2 &&
            failedNow[std::size_t(rule.output->group)])
            note = failure_[std::size_t(rule.output->group)];
        RuleEvent re;
        re.rule = rule.name;
        re.scan = e.scan;
        re.fired = e.fired;
        re.value = e.value;
        re.mark = rule.mark;
        re.capture = e.fired && rule.capture.has_value();
        if (rule.capture) {
            re.beforeS = rule.capture->beforeS;
            re.afterS = rule.capture->afterS;
        }
        re.note = note;
        if (const auto *level = std::get_if<rules::LevelWhen>(&rule.when)) {
            const ChannelUnit u = channelUnit(units_, level->channel - 1);
            re.decimals = valueDecimals(inUnit(kPanelCalibration, u));
            unitText = u.unit;
            re.unit = unitText;
        }
        notify(re);
        if (e.fired && rule.stop != rules::StopWhat::None)
            stops_.emplace_back(rule.stop, rule.name);
        if (e.fired && rule.alarm)
            alarms_.push_back({rule.name, e.scan, valueText(re)});
    }
    pending_.clear();
    if (wrote && listener_)
        listener_->ruleOutputsChanged();
}

void RuleRunner::tickEnded()
{
    if (engine_)
        engine_->tickEnded();
    // Copies: the listener may stop the acquisition, or disarm.
    const auto stops = std::move(stops_);
    const auto alarms = std::move(alarms_);
    stops_.clear();
    alarms_.clear();
    if (!listener_)
        return;
    for (const Alarm &a : alarms)
        listener_->ruleAlarm(a.rule, a.scan, a.valueText);
    for (const auto &[what, name] : stops)
        listener_->ruleStops(what, name);
}

void RuleRunner::release(CardDriver &driver)
{
    bool wrote = false;
    for (int g = 0; g < 2; ++g) {
        const uint8_t owned = ownedMask(g);
        const int last = last_[std::size_t(g)];
        if (owned && last >= 0 && (last & owned)) {
            (void)writeGroup(driver, g, static_cast<int16_t>(last & ~owned));
            wrote = true;
        }
    }
    // Latches and pulses end with the outputs; the next Start begins afresh.
    engine_.reset();
    pending_.clear();
    if (wrote && listener_)
        listener_->ruleOutputsChanged();
}

void RuleRunner::acknowledge()
{
    if (engine_)
        engine_->acknowledge();
}

int16_t RuleRunner::operatorByte(int16_t group, int16_t value)
{
    if (group < 0 || group > 1)
        return value;
    const uint8_t owned = ownedMask(group);
    const int bits = engine_ ? engine_->ruleBits(group) : 0;
    const auto byte = static_cast<int16_t>((value & ~owned) | (bits & owned));
    last_[std::size_t(group)] = byte;
    return byte;
}

} // namespace adcard
