// The output write: the two text boxes read, DOState, and the Tvo_DO call.
#include "acquisition/acquisition.h"
#include "tests/support/fake_view.h"
#include "tests/support/mock_driver.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;
using testing::FakeView;
using testing::MockDriver;

struct WriteRow {
    const char *name;
    const char *groupText;
    const char *valueText;
    int16_t group;
    int16_t value;
};

class OutputWrite : public ::testing::TestWithParam<WriteRow> {
protected:
    StrictMock<MockDriver> driver;
    DllDef dll{driver};
    FakeView view;
    Acquisition acq{dll, view};
};

TEST_P(OutputWrite, SendsGroupAndLowByte)
{
    const auto &r = GetParam();
    view.texts["txtswChn"] = r.groupText;
    view.texts["txtSWO_0"] = r.valueText;
    EXPECT_CALL(driver, Tvo_DO(r.group, r.value)).WillOnce(Return(0));
    acq.onDigitalOutput();
    EXPECT_EQ(acq.DOState[0], r.value);
    EXPECT_TRUE(view.captions.empty());
    EXPECT_FALSE(view.timer);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutputWrite,
    ::testing::Values(WriteRow{"DesignTexts", "0", "00", 0, 0}, WriteRow{"GroupOne", "1", "FF", 1, 255},
                      WriteRow{"GroupAboveOneBecomesOne", "5", "ff", 1, 255},
                      WriteRow{"GroupMax", "32767", "1", 1, 1},
                      WriteRow{"GroupRoundsToTwoThenOne", "1.5", "A5", 1, 0xA5},
                      WriteRow{"GroupHalfToZero", "0.5", "7G", 0, 7},
                      WriteRow{"NegativeGroupUnchanged", "-1", "1FF", -1, 255},
                      WriteRow{"NegativeHalfToEven", "-1.5", "100", -2, 0},
                      WriteRow{"EmptyTexts", "", "", 0, 0}, WriteRow{"JunkGroup", "x", "G7", 0, 0},
                      WriteRow{"TrailingJunk", "3abc", "&H12", 1, 0},
                      WriteRow{"HexGroup", "&H1", "F F", 1, 255},
                      WriteRow{"EightHexDigits", "0", "FFFFFFFF", 0, 255}),
    kRowName);

class OutputWriteFaults : public ::testing::Test {
protected:
    StrictMock<MockDriver> driver;
    DllDef dll{driver};
    FakeView view;
    Acquisition acq{dll, view};
};

TEST_F(OutputWriteFaults, GroupBeyond16BitsSendsNothing)
{
    acq.DOState[0] = 42;
    view.texts["txtswChn"] = "40000";
    view.texts["txtSWO_0"] = "11";
    acq.onDigitalOutput(); // the strict mock fails on any driver call
    EXPECT_EQ(acq.DOState[0], 42);
    EXPECT_NE(view.problem("txtswChn"), "");
    EXPECT_EQ(view.problem("txtSWO_0"), "");
    EXPECT_TRUE(view.captions.empty());
}

TEST_F(OutputWriteFaults, ValueBeyond32BitsSendsNothing)
{
    acq.DOState[0] = 42;
    view.texts["txtswChn"] = "1";
    view.texts["txtSWO_0"] = "1FFFFFFFF";
    acq.onDigitalOutput();
    EXPECT_EQ(acq.DOState[0], 42);
    EXPECT_NE(view.problem("txtSWO_0"), "");
    EXPECT_EQ(view.problem("txtswChn"), "");
}

TEST_F(OutputWriteFaults, NextValidWriteClearsTheWarning)
{
    view.texts["txtswChn"] = "-32769";
    view.texts["txtSWO_0"] = "1";
    acq.onDigitalOutput();
    ASSERT_NE(view.problem("txtswChn"), "");

    view.texts["txtswChn"] = "-32768";
    EXPECT_CALL(driver, Tvo_DO(-32768, 1)).WillOnce(Return(0));
    acq.onDigitalOutput();
    EXPECT_EQ(view.problem("txtswChn"), "");
    EXPECT_EQ(view.problem("txtSWO_0"), "");
}

TEST_F(OutputWriteFaults, TwoClicksWriteTwice)
{
    view.texts["txtswChn"] = "0";
    view.texts["txtSWO_0"] = "00";
    EXPECT_CALL(driver, Tvo_DO(0, 0)).Times(2).WillRepeatedly(Return(0));
    acq.onDigitalOutput();
    acq.onDigitalOutput();
}

} // namespace
} // namespace adcard
