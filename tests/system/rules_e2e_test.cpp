// The rules on the real window, loader and simulated card: output group 0
// reads back as input port 0, so the digital row of every tick shows what
// the rules wrote in that tick, before it read the inputs.
#include "acquisition/acquisition.h"
#include "data/channel_units.h"
#include "rules/rules.h"
#include "tests/system/system_support.h"

#include <variant>

namespace adcard::testing {
namespace {

struct TickLog : BlockHook {
    void ruleEvent(const RuleEvent &e) override
    {
        active = e.fired;
        ++events;
        fired += e.fired;
    }
    void tickEnded(const TickSummary &t) override
    {
        if (t.digitalRead)
            ticks.push_back({active, (t.digitalInputs[0] & 1) != 0});
    }
    struct Tick {
        bool active, bit;
    };
    bool active = false;
    int events = 0, fired = 0;
    std::vector<Tick> ticks;
};

rules::RuleSet parsed(const std::string &json)
{
    auto r = rules::parseRules(json, {});
    if (auto *e = std::get_if<rules::RuleError>(&r))
        ADD_FAILURE() << e->message();
    return std::get<rules::RuleSet>(std::move(r));
}

TEST(RulesOnTheCard, EveryTicksInputRowShowsTheBitTheLevelRuleSetInThatTick)
{
    SimEnvironment env({{"ADCARD_SIM_SPEED", "20"}, {"ADCARD_SIM_QUEUE", "256"}});
    Program p;
    p.acq().armRules(parsed(R"({"rules": [{"name": "正半周", "when": {"channel": 1, "above": 0.0, "hysteresis": 0.5},
                                          "then": {"output": {"group": 0, "bit": 0, "mode": "hold"}}}]})"),
                     {});
    TickLog log;
    p.acq().addBlockHook(log);
    p.click("cmdStart");
    // Channel 1's sine has a period of 20 blocks: 120 blocks cross 0 V a dozen times.
    while (p.acq().BlockCount < 120) {
        ASSERT_TRUE(p.waitForBlocks(2));
        p.acq().onTick();
    }
    p.click("cmdStop");
    p.acq().removeBlockHook(log);

    EXPECT_GE(log.fired, 5);
    int changes = 0;
    for (std::size_t t = 0; t < log.ticks.size(); ++t) {
        EXPECT_EQ(log.ticks[t].bit, log.ticks[t].active) << "tick " << t;
        changes += t > 0 && log.ticks[t].bit != log.ticks[t - 1].bit;
    }
    EXPECT_GE(changes, 8) << "the bit should follow the sine through several periods";
    // Stop gave the rule's bit back.
    EXPECT_EQ(p.acq().rules().lastWritten()[0] & 1, 0);
}

} // namespace
} // namespace adcard::testing
