// What observers of the data are told, and when, relative to the driver.
#include "acquisition/acquisition.h"
#include "tests/support/fake_view.h"
#include "tests/support/mock_driver.h"
#include "tests/support/mock_hook.h"

#include <gtest/gtest.h>

namespace adcard {
namespace {

using ::testing::_;
using ::testing::AllOf;
using ::testing::Field;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;
using testing::FakeView;
using testing::MockDriver;
using testing::MockHook;

class Hook : public ::testing::Test {
protected:
    Hook()
    {
        view.onUnload = [this] { acq.onUnload(); };
        acq.addBlockHook(hook);
        acq.addBlockHook(hook); // added once however often it is offered
        ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, Tvo_DI(_, _)).WillByDefault(Return(0));
        EXPECT_CALL(driver, Initial(_, _, _, _)).Times(::testing::AnyNumber());
        acq.onLoad();
    }
    // ADResult writing `value` into every sample, or failing.
    auto deliver(int16_t value, int32_t result = 1)
    {
        return Invoke([=](int16_t *buf) {
            if (result == 1)
                std::fill(buf + 1, buf + 4001, value);
            return result;
        });
    }

    NiceMock<MockDriver> driver;
    DllDef dll{driver};
    FakeView view;
    Acquisition acq{dll, view};
    StrictMock<MockHook> hook;
};

TEST_F(Hook, StartTellsOfTheNewHistoryBeforeStartIntrAndOfTheStartAfter)
{
    InSequence seq;
    EXPECT_CALL(driver, Initial(320, 5, 0, 0)).WillOnce(Return(1));
    EXPECT_CALL(hook, historyStarted(Field(&AcqSettings::ChannelCount, 4)));
    EXPECT_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillOnce(Return(1));
    EXPECT_CALL(hook, acquisitionStarted(Field(&AcqSettings::ScansPerBlock, 1000)));
    acq.onStart();
}

TEST_F(Hook, FailedStartsTellOnlyWhatHappened)
{
    EXPECT_CALL(driver, Initial(_, _, _, _)).WillOnce(Return(0)).WillOnce(Return(1));
    acq.onStart(); // arrays untouched: nothing to tell
    ::testing::Mock::VerifyAndClearExpectations(&hook);

    EXPECT_CALL(hook, historyStarted(_)); // arrays replaced, but the card did not start
    EXPECT_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillOnce(Return(0));
    acq.onStart();
}

TEST_F(Hook, TickReportsEachBlockFromTheRingThenTheTickItself)
{
    EXPECT_CALL(hook, historyStarted(_));
    EXPECT_CALL(hook, acquisitionStarted(_));
    acq.onStart();
    dll.RingPos = 76000; // the second stored block wraps to slot 0

    const auto inRing = [this](int16_t value, int32_t slot) {
        return Invoke([=, this](const StoredBlock &b) {
            // Called after the copy, with the block where the ring holds it.
            EXPECT_EQ(b.samples.data(), dll.HistoryRing.data() + slot * 4000);
            ASSERT_EQ(b.samples.size(), 4000u);
            EXPECT_EQ(b.samples.front(), value);
            EXPECT_EQ(b.samples.back(), value);
        });
    };
    {
        InSequence seq;
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(3));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(11));
        EXPECT_CALL(hook, blockStored(AllOf(Field(&StoredBlock::slot, 19), Field(&StoredBlock::handedOver, 1),
                                            Field(&StoredBlock::fetched, 1))))
            .WillOnce(inRing(11, 19));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(22, 0));
        EXPECT_CALL(hook, blockMissed(2));
        EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(33));
        EXPECT_CALL(hook, blockStored(AllOf(Field(&StoredBlock::slot, 0), Field(&StoredBlock::handedOver, 2),
                                            Field(&StoredBlock::fetched, 3))))
            .WillOnce(inRing(33, 0));
        EXPECT_CALL(driver, Tvo_DI(2, _)); // the captions come before the summary
        EXPECT_CALL(hook, tickEnded(AllOf(Field(&TickSummary::readyBlocks, 3), Field(&TickSummary::blockCount, 3),
                                          Field(&TickSummary::ringPos, 4000), Field(&TickSummary::stored, 2))));
    }
    acq.onTick();
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    // A tick with nothing ready tells nothing.
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(0));
    acq.onTick();

    // A new Start begins the counts again.
    EXPECT_CALL(hook, historyStarted(_));
    EXPECT_CALL(hook, acquisitionStarted(_));
    acq.onStart();
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(1));
    EXPECT_CALL(driver, ADResult(_)).WillOnce(deliver(44));
    EXPECT_CALL(hook, blockStored(AllOf(Field(&StoredBlock::handedOver, 1), Field(&StoredBlock::fetched, 1))));
    EXPECT_CALL(hook, tickEnded(Field(&TickSummary::stored, 1)));
    acq.onTick();
}

TEST_F(Hook, StopAndUnloadAreToldAfterTheDriverStops)
{
    {
        InSequence seq;
        EXPECT_CALL(driver, StopIntr());
        EXPECT_CALL(hook, acquisitionStopped(StopReason::Stop));
    }
    acq.onStop();
    ::testing::Mock::VerifyAndClearExpectations(&hook);

    {
        InSequence seq;
        EXPECT_CALL(driver, StopIntr()).Times(2); // Exit's own, then the unload step's
        EXPECT_CALL(hook, acquisitionStopped(StopReason::Unload));
    }
    acq.onExit();
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    acq.removeBlockHook(hook); // nothing more reaches it
    acq.onStop();
}

} // namespace
} // namespace adcard
