// Load, Start, Stop, Exit and unload against a mock driver.
#include "acquisition/acquisition.h"
#include "tests/support/fake_view.h"
#include "tests/support/mock_driver.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;
using testing::FakeView;
using testing::MockDriver;

bool allZero(const std::vector<int16_t> &v)
{
    return std::all_of(v.begin(), v.end(), [](int16_t x) { return x == 0; });
}

class Handlers : public ::testing::Test {
protected:
    void load()
    {
        EXPECT_CALL(driver, Initial(320, 5, 0, 0)).WillOnce(Return(1));
        acq.onLoad();
        ::testing::Mock::VerifyAndClearExpectations(&driver);
    }
    // Expect one Start with the given Initial and StartIntr results.
    void expectStart(int32_t initialResult, int32_t startResult)
    {
        InSequence seq;
        EXPECT_CALL(driver, StopIntr()).WillOnce(Return(1));
        EXPECT_CALL(driver, Initial(320, 5, 0, 0)).WillOnce(Return(initialResult));
        if (initialResult != 0)
            EXPECT_CALL(driver, StartIntr(10, 1000, 0, 4, 10000, 0, 1)).WillOnce(Return(startResult));
    }

    Handlers() { view.onUnload = [this] { acq.onUnload(); }; }

    StrictMock<MockDriver> driver;
    DllDef dll{driver};
    FakeView view;
    Acquisition acq{dll, view};
};

TEST_F(Handlers, LoadInitialisesOnceAndShowsNothing)
{
    dll.RingPos = 99;
    acq.BlockCount = 9;
    EXPECT_CALL(driver, Initial(320, 5, 0, 0)).WillOnce(Return(0)); // failure is not examined
    acq.onLoad();
    EXPECT_EQ(dll.settings.RingBlocks, 20);
    EXPECT_EQ(dll.RingPos, 0);
    EXPECT_EQ(acq.BlockCount, 0);
    EXPECT_TRUE(view.captions.empty());
    EXPECT_FALSE(view.timer);
    EXPECT_TRUE(dll.BlockBuf.empty());
    EXPECT_TRUE(dll.HistoryRing.empty());
    EXPECT_EQ(dll.settings.ScansPerBlock, 0); // the seven values stay zero until a Start
}

TEST_F(Handlers, StartCallsTheDriverInOrderAndCreatesZeroedArrays)
{
    load();
    expectStart(1, 1);
    acq.onStart();
    EXPECT_TRUE(view.timer);
    ASSERT_EQ(dll.BlockBuf.size(), 4002u);
    ASSERT_EQ(dll.HistoryRing.size(), 80001u);
    EXPECT_TRUE(allZero(dll.BlockBuf));
    EXPECT_TRUE(allZero(dll.HistoryRing));
    EXPECT_EQ(view.caption("lblBlock"), "<unset>");
    const AcqSettings &s = dll.settings;
    EXPECT_EQ(s.IntrArg1, 10);
    EXPECT_EQ(s.ScansPerBlock, 1000);
    EXPECT_EQ(s.IntrArg3, 0);
    EXPECT_EQ(s.ChannelCount, 4);
    EXPECT_EQ(s.IntrArg5, 10000);
    EXPECT_EQ(s.IntrArg6, 0);
    EXPECT_EQ(s.IntrArg7, 1);
    EXPECT_EQ(s.RingBlocks, 20);
}

TEST_F(Handlers, NegativeResultsCountAsSuccess)
{
    load();
    expectStart(-5, -1);
    acq.onStart();
    EXPECT_TRUE(view.timer);
    EXPECT_EQ(view.caption("lblBlock"), "<unset>");
}

struct FailureRow {
    const char *name;
    int32_t initialResult;
    int32_t startResult;
    int32_t errorCode;
    const char *caption;
    bool timerBefore;
    bool arraysRecreated;
};

class StartFailure : public Handlers, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(StartFailure, ShowsTheCodeAndKeepsTheTimerState)
{
    const auto &r = GetParam();
    load();
    // An earlier successful Start left data in both arrays.
    expectStart(1, 1);
    acq.onStart();
    dll.BlockBuf[7] = 123;
    dll.HistoryRing[4000] = 456;
    dll.RingPos = 8000;
    acq.BlockCount = 2;
    view.timer = r.timerBefore;

    expectStart(r.initialResult, r.startResult);
    EXPECT_CALL(driver, GetLastADError()).WillOnce(Return(r.errorCode));
    acq.onStart();

    EXPECT_EQ(view.caption("lblBlock"), r.caption);
    EXPECT_EQ(view.timer, r.timerBefore);
    EXPECT_EQ(dll.RingPos, 8000);
    EXPECT_EQ(acq.BlockCount, 2);
    ASSERT_EQ(dll.BlockBuf.size(), 4002u);
    ASSERT_EQ(dll.HistoryRing.size(), 80001u);
    if (r.arraysRecreated) {
        EXPECT_TRUE(allZero(dll.BlockBuf));
        EXPECT_TRUE(allZero(dll.HistoryRing));
    } else {
        EXPECT_EQ(dll.BlockBuf[7], 123);
        EXPECT_EQ(dll.HistoryRing[4000], 456);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartFailure,
    ::testing::Values(FailureRow{"InitialWhileStopped", 0, 0, -3, "Error=-3", false, false},
                      FailureRow{"InitialWhileRunning", 0, 0, 12, "Error=12", true, false},
                      FailureRow{"StartIntrWhileStopped", 1, 0, 7, "Error=7", false, true},
                      FailureRow{"StartIntrWhileRunning", -2, 0, -9001, "Error=-9001", true, true}),
    kRowName);

TEST_F(Handlers, FailedFirstStartCreatesNoArrays)
{
    load();
    expectStart(0, 0);
    EXPECT_CALL(driver, GetLastADError()).WillOnce(Return(4));
    acq.onStart();
    EXPECT_EQ(view.caption("lblBlock"), "Error=4");
    EXPECT_TRUE(dll.BlockBuf.empty());
    EXPECT_TRUE(dll.HistoryRing.empty());
    EXPECT_FALSE(view.timer);
}

TEST_F(Handlers, TwoStartsInARowRecreateArraysAndKeepCounters)
{
    load();
    expectStart(1, 1);
    acq.onStart();
    dll.HistoryRing[0] = 5;
    dll.BlockBuf[1] = 6;
    dll.RingPos = 12000;
    acq.BlockCount = 3;

    expectStart(1, 1);
    acq.onStart();
    EXPECT_TRUE(view.timer);
    EXPECT_TRUE(allZero(dll.HistoryRing));
    EXPECT_TRUE(allZero(dll.BlockBuf));
    EXPECT_EQ(dll.RingPos, 12000);
    EXPECT_EQ(acq.BlockCount, 3);
}

TEST_F(Handlers, FailureTextStaysUntilTheNextTickWritesTheCount)
{
    load();
    expectStart(0, 0);
    EXPECT_CALL(driver, GetLastADError()).WillOnce(Return(-3));
    acq.onStart();
    expectStart(1, 1);
    acq.onStart();
    EXPECT_EQ(view.caption("lblBlock"), "Error=-3");

    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(0));
    acq.onTick();
    EXPECT_EQ(view.caption("lblBlock"), "Error=-3"); // a zero count writes nothing

    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(-1));
    acq.onTick();
    EXPECT_EQ(view.caption("lblBlock"), "-1");
}

TEST_F(Handlers, StopBeforeAnyStart)
{
    load();
    EXPECT_CALL(driver, StopIntr()).WillOnce(Return(0));
    acq.onStop();
    EXPECT_FALSE(view.timer);
    EXPECT_TRUE(view.captions.empty());
}

TEST_F(Handlers, StopKeepsArraysCountersAndCaptions)
{
    load();
    expectStart(1, 1);
    acq.onStart();
    dll.HistoryRing[10] = 9;
    dll.RingPos = 4000;
    view.captions[{"lblBlock", -1}] = " 1";
    EXPECT_CALL(driver, StopIntr()).WillOnce(Return(1));
    acq.onStop();
    EXPECT_FALSE(view.timer);
    EXPECT_EQ(dll.HistoryRing[10], 9);
    EXPECT_EQ(dll.RingPos, 4000);
    EXPECT_EQ(view.caption("lblBlock"), " 1");
}

TEST_F(Handlers, ExitStopsThenUnloadsWhichStopsAgain)
{
    load();
    view.timer = true;
    // Exit's own StopIntr, then the window closes and its unload step runs.
    EXPECT_CALL(driver, StopIntr()).WillOnce(::testing::Invoke([this] {
        EXPECT_FALSE(view.closed) << "Exit must stop the card before it closes the window";
        return 1;
    })).WillOnce(::testing::Invoke([this] {
        EXPECT_TRUE(view.closed);
        return 1;
    }));
    acq.onExit();
    EXPECT_EQ(view.unloads, 1);
    EXPECT_FALSE(view.timer) << "the timer goes with the window";
    EXPECT_TRUE(view.captions.empty());
}

TEST_F(Handlers, UnloadBeforeAnyStartOnlyStops)
{
    load();
    EXPECT_CALL(driver, StopIntr()).WillOnce(Return(0));
    acq.onUnload();
    EXPECT_EQ(view.unloads, 0);
    EXPECT_TRUE(view.captions.empty());
}

} // namespace
} // namespace adcard
