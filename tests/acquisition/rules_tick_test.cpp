// The armed rules inside the tick: where the output call falls among the
// driver's calls, which bits a rule may change, what the operator's output
// button keeps, what Stop gives back, and what a refused write says.
#include "acquisition/acquisition.h"
#include "tests/support/fake_view.h"
#include "tests/support/mock_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace adcard {
namespace {

using ::testing::_;
using ::testing::AnyNumber;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using testing::FakeView;
using testing::MockDriver;

// Codes: 2048 is 0 V; 3000 about +2.3 V.
constexpr int16_t kLow = 2048, kHigh = 3000;

rules::Rule levelRule(std::string name, int channel, double above, rules::OutputMode mode, int group, int bit)
{
    rules::Rule r;
    r.name = std::move(name);
    rules::LevelWhen w;
    w.channel = channel;
    w.level = {LevelKind::Above, above, 0, 0};
    r.when = w;
    r.output = rules::OutputAction{group, bit, mode, mode == rules::OutputMode::Pulse ? 250 : 0};
    return r;
}

rules::Rule inputRule(std::string name, int port, int bit, int outGroup, int outBit)
{
    rules::Rule r;
    r.name = std::move(name);
    rules::InputWhen w;
    w.port = port;
    w.bit = bit;
    w.edge = rules::InputEdge::Rising;
    r.when = w;
    r.output = rules::OutputAction{outGroup, outBit, rules::OutputMode::Hold, 0};
    return r;
}

struct EventLog : BlockHook {
    void ruleEvent(const RuleEvent &e) override
    {
        events.push_back({std::string(e.rule), e.scan, e.fired, std::string(e.note)});
    }
    struct Seen {
        std::string rule;
        int64_t scan;
        bool fired;
        std::string note;
    };
    std::vector<Seen> events;
};

class RulesInTick : public ::testing::Test {
protected:
    RulesInTick()
    {
        ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, Tvo_DO(_, _)).WillByDefault(Return(1));
        acq.addBlockHook(log);
        acq.onLoad();
    }
    void arm(std::vector<rules::Rule> rs)
    {
        rules::RuleSet set;
        set.rules = std::move(rs);
        set.text = "{}";
        acq.armRules(std::move(set), {});
    }
    // One tick bringing one block whose channel `channel` (from 0) holds
    // `code` from scan `from` on, and kLow before.
    void tickWith(int channel, int16_t code, int from = 0)
    {
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(Invoke([=](int16_t *buf) {
            std::fill(buf + 1, buf + 4001, kLow);
            for (int k = from; k < 1000; ++k)
                buf[1 + 4 * k + channel] = code;
            return 1;
        }));
        acq.onTick();
    }

    NiceMock<MockDriver> driver;
    DllDef dll{driver};
    FakeView view;
    Acquisition acq{dll, view};
    EventLog log;
};

TEST_F(RulesInTick, ALevelRulesOutputIsWrittenBeforeTheTickReadsTheInputs)
{
    arm({levelRule("过压", 3, 1.0, rules::OutputMode::Hold, 0, 2)});
    acq.onStart();
    {
        InSequence seq;
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(Invoke([](int16_t *buf) {
            std::fill(buf + 1, buf + 4001, kLow);
            for (int k = 700; k < 1000; ++k)
                buf[1 + 4 * k + 2] = kHigh; // channel 3 from scan 700
            return 1;
        }));
        EXPECT_CALL(driver, Tvo_DO(0, 0x04)).WillOnce(Return(1));
        EXPECT_CALL(driver, Tvo_DI(2, _));
        EXPECT_CALL(driver, Tvo_DO(0, 0x00)).Times(0);
    }
    acq.onTick();
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].scan, 700);
    EXPECT_TRUE(log.events[0].fired);
}

TEST_F(RulesInTick, AHoldThatSetsAndClearsWithinOneTickWritesTheStateAtItsEnd)
{
    arm({levelRule("过压", 3, 1.0, rules::OutputMode::Hold, 0, 2)});
    acq.onStart();
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
    EXPECT_CALL(driver, ADResult(_)).WillOnce(Invoke([](int16_t *buf) {
        std::fill(buf + 1, buf + 4001, kLow);
        buf[1 + 4 * 700 + 2] = kHigh;
        return 1;
    }));
    EXPECT_CALL(driver, Tvo_DO(_, _)).Times(0);
    acq.onTick();
    ASSERT_EQ(log.events.size(), 2u); // fired at 700, cleared at 701 (no hysteresis)
    EXPECT_EQ(log.events[1].scan, 701);
    EXPECT_FALSE(log.events[1].fired);
}

TEST_F(RulesInTick, AHeldBitFollowsTheRuleFromTickToTickAndScansCountAcrossBlocks)
{
    arm({levelRule("过压", 1, 1.0, rules::OutputMode::Hold, 1, 7)});
    acq.onStart();
    EXPECT_CALL(driver, Tvo_DO(1, 0x80)).WillOnce(Return(1));
    tickWith(0, kHigh, 250);
    ::testing::Mock::VerifyAndClearExpectations(&driver);
    EXPECT_CALL(driver, Tvo_DO(_, _)).Times(0); // still active: nothing to write
    tickWith(0, kHigh);
    ::testing::Mock::VerifyAndClearExpectations(&driver);
    EXPECT_CALL(driver, Tvo_DO(1, 0x00)).WillOnce(Return(1));
    tickWith(0, kLow);
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(log.events[0].scan, 250);
    EXPECT_EQ(log.events[1].scan, 2000); // the third block's first scan
}

TEST_F(RulesInTick, TheOperatorsButtonWritesOnlyTheBitsNoRuleOwns)
{
    arm({levelRule("过压", 1, 1.0, rules::OutputMode::Hold, 0, 0)});
    acq.onStart();
    EXPECT_CALL(driver, Tvo_DO(0, 0x01)).WillOnce(Return(1));
    tickWith(0, kHigh);
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    view.texts["txtswChn"] = "0";
    view.texts["txtSWO_0"] = "F0"; // bit 0 asked clear: the rule keeps it set
    EXPECT_CALL(driver, Tvo_DO(0, 0xF1)).WillOnce(Return(1));
    acq.onDigitalOutput();
    EXPECT_EQ(acq.DOState[0], 0xF1);
    EXPECT_FALSE(view.problems["txtSWO_0"].empty()) << "the operator is told the rule kept its bit";
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    // The rule clears its bit and leaves the operator's.
    EXPECT_CALL(driver, Tvo_DO(0, 0xF0)).WillOnce(Return(1));
    tickWith(0, kLow);
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    // Group 1 belongs to no rule: written as typed.
    view.texts["txtswChn"] = "1";
    view.texts["txtSWO_0"] = "3";
    EXPECT_CALL(driver, Tvo_DO(1, 0x03)).WillOnce(Return(1));
    acq.onDigitalOutput();
    EXPECT_TRUE(view.problems["txtSWO_0"].empty());
}

TEST_F(RulesInTick, StopGivesEveryRuleOwnedBitBackLatchedOnesIncluded)
{
    arm({levelRule("锁存", 1, 1.0, rules::OutputMode::Latch, 0, 3),
         levelRule("保持", 2, 1.0, rules::OutputMode::Hold, 0, 4)});
    acq.onStart();
    view.texts["txtswChn"] = "0";
    view.texts["txtSWO_0"] = "41";
    acq.onDigitalOutput();
    EXPECT_CALL(driver, Tvo_DO(0, 0x49)).WillOnce(Return(1));
    tickWith(0, kHigh, 10);
    ::testing::Mock::VerifyAndClearExpectations(&driver);
    // The latch stays when its condition clears.
    EXPECT_CALL(driver, Tvo_DO(_, _)).Times(0);
    tickWith(0, kLow);
    ::testing::Mock::VerifyAndClearExpectations(&driver);
    {
        InSequence seq;
        EXPECT_CALL(driver, StopIntr());
        EXPECT_CALL(driver, Tvo_DO(0, 0x41)).WillOnce(Return(1));
    }
    acq.onStop();
}

TEST_F(RulesInTick, ARefusedWriteIsSaidOnTheRulesEventAndTheTickGoesOn)
{
    arm({levelRule("过压", 1, 1.0, rules::OutputMode::Hold, 0, 0)});
    acq.onStart();
    EXPECT_CALL(driver, Tvo_DO(0, 0x01)).WillOnce(Return(-7));
    EXPECT_CALL(driver, Tvo_DI(2, _));
    tickWith(0, kHigh, 5);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_NE(log.events[0].note.find("-7"), std::string::npos) << log.events[0].note;
    EXPECT_EQ(view.captions[FakeView::Key("lblBlock", -1)], " 1");
}

TEST_F(RulesInTick, AnInputRulesOutputIsWrittenRightAfterTheTickReadsTheInputs)
{
    arm({inputRule("门开", 1, 3, 1, 1)});
    acq.onStart();
    int16_t port1 = 0;
    ON_CALL(driver, Tvo_DI(2, _)).WillByDefault(Invoke([&](int32_t, int16_t *st) {
        st[0] = 0;
        st[1] = port1;
        return int16_t{0};
    }));
    tickWith(0, kLow);
    port1 = 0x08;
    {
        InSequence seq;
        EXPECT_CALL(driver, Tvo_DI(2, _));
        EXPECT_CALL(driver, Tvo_DO(1, 0x02)).WillOnce(Return(1));
    }
    tickWith(0, kLow);
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].scan, 2000); // where the second tick's digital row sits
}

TEST_F(RulesInTick, WithoutArmedRulesTheTickCallsNoOutput)
{
    acq.onStart();
    EXPECT_CALL(driver, Tvo_DO(_, _)).Times(0);
    tickWith(0, kHigh);
    acq.onStop();
    EXPECT_TRUE(log.events.empty());
}

} // namespace
} // namespace adcard
