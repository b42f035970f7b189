// The window on Qt's offscreen platform, with the real acquisition logic and
// a mocked card driver.
#include "panel/controls.h"
#include "panel/frm_multibuf.h"
#include "tests/support/mock_driver.h"
#include "panel/panel_app.h"
#include "panel/panel_style.h"
#include "tests/support/row_name.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

using adcard::testing::MockDriver;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

QString q(const char *utf8) { return QString::fromUtf8(utf8); }

// Written out by hand in pixels at 96 dpi; w and h are -1 for labels that
// take the size of their text.
enum class Is { Button, TextBox, Frame, AutoLabel, FixedLabel };
struct Expect {
    const char *name;
    const char *parent;
    Is kind;
    const char *text;
    int x, y, w, h;
};
const Expect kLayout[] = {
    {"Label1(0)", "FrmMultiBuf", Is::AutoLabel, "通道1:", 26, 13, -1, -1},
    {"lblAD(0)", "FrmMultiBuf", Is::FixedLabel, "0.000", 83, 11, 38, 12},
    {"Label1(1)", "FrmMultiBuf", Is::AutoLabel, "通道2:", 26, 30, -1, -1},
    {"lblAD(1)", "FrmMultiBuf", Is::FixedLabel, "0.000", 82, 32, 38, 12},
    {"Label1(2)", "FrmMultiBuf", Is::AutoLabel, "通道3:", 24, 50, -1, -1},
    {"lblAD(2)", "FrmMultiBuf", Is::FixedLabel, "0.000", 83, 53, 38, 12},
    {"Label1(3)", "FrmMultiBuf", Is::AutoLabel, "通道4:", 22, 69, -1, -1},
    {"lblAD(3)", "FrmMultiBuf", Is::FixedLabel, "0.000", 83, 70, 38, 12},
    {"cmdStart", "FrmMultiBuf", Is::Button, "开始采集", 282, 26, 62, 30},
    {"cmdStop", "FrmMultiBuf", Is::Button, "停止采集", 284, 60, 62, 30},
    {"cmdExit", "FrmMultiBuf", Is::Button, "退出", 286, 98, 62, 30},
    {"Label4", "FrmMultiBuf", Is::AutoLabel, "接收数据块数:", 5, 94, -1, -1},
    {"lblBlock", "FrmMultiBuf", Is::AutoLabel, "Label2", 96, 94, -1, -1},
    {"Label5", "FrmMultiBuf", Is::AutoLabel, "缓冲区指针:", 10, 117, -1, -1},
    {"lblptr", "FrmMultiBuf", Is::AutoLabel, "Label3", 94, 118, -1, -1},
    {"Label1(12)", "FrmMultiBuf", Is::AutoLabel, "DI:", 21, 146, -1, -1},
    {"lblDI", "FrmMultiBuf", Is::AutoLabel, "00", 58, 146, -1, -1},
    {"Frame2", "FrmMultiBuf", Is::Frame, "开关量输入", 4, 166, 376, 97},
    {"Label1(4)", "Frame2", Is::AutoLabel, "位:", 11, 22, -1, -1},
    {"lblBit", "Frame2", Is::AutoLabel, "Bit", 77, 22, -1, -1},
    {"Label1(6)", "Frame2", Is::AutoLabel, "开关量输入0：", 11, 46, -1, -1},
    {"lblDI_0", "Frame2", Is::AutoLabel, "DI0", 77, 46, -1, -1},
    {"Label1(7)", "Frame2", Is::AutoLabel, "开关量输入1：", 10, 70, -1, -1},
    {"lblDI_1", "Frame2", Is::AutoLabel, "DI1", 78, 70, -1, -1},
    {"Frame1", "FrmMultiBuf", Is::Frame, "开关量", 2, 266, 374, 103},
    {"Label1(5)", "Frame1", Is::AutoLabel, "开关量输出0(hex)：", 10, 18, -1, -1},
    {"Label1(9)", "Frame1", Is::AutoLabel, "通道组（0 或1）：", 13, 38, -1, -1},
    {"txtswChn", "Frame1", Is::TextBox, "0", 136, 34, 34, 20},
    {"Label1(8)", "Frame1", Is::AutoLabel, "开关量输出值(hex)：", 3, 66, -1, -1},
    {"txtSWO_0", "Frame1", Is::TextBox, "00", 138, 61, 34, 19},
    {"cmdSWO", "Frame1", Is::Button, "输出", 216, 44, 51, 22},
};

class Panel : public ::testing::Test {
protected:
    QWidget *ctl(const char *name) const { return window.control(q(name)); }
    template <class T> T *as(const char *name) const { return qobject_cast<T *>(ctl(name)); }

    NiceMock<MockDriver> driver;
    DllDef dll{driver};
    FrmMultiBuf window{dll, "."};
};

class Layout : public Panel, public ::testing::WithParamInterface<Expect> {};

TEST_P(Layout, StartsWithItsTextAtItsPlace)
{
    ASSERT_EQ(window.screen()->logicalDotsPerInchX(), 96.0) << "the expectations are at 96 dpi";
    const Expect &e = GetParam();
    QWidget *w = ctl(e.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), q(e.parent));
    EXPECT_EQ(w->pos(), QPoint(e.x, e.y));
    if (e.w >= 0) {
        EXPECT_EQ(w->size(), QSize(e.w, e.h));
    }
    QString shown;
    if (auto *b = qobject_cast<QPushButton *>(w)) {
        EXPECT_EQ(e.kind, Is::Button);
        EXPECT_FALSE(b->autoDefault());
        EXPECT_FALSE(b->isDefault());
        shown = b->text();
    } else if (auto *t = qobject_cast<QLineEdit *>(w)) {
        EXPECT_EQ(e.kind, Is::TextBox);
        shown = t->text();
    } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
        EXPECT_EQ(e.kind, Is::Frame);
        EXPECT_EQ(g->focusPolicy(), Qt::NoFocus);
        shown = g->title();
    } else if (auto *l = qobject_cast<QLabel *>(w)) {
        EXPECT_TRUE(e.kind == Is::AutoLabel || e.kind == Is::FixedLabel);
        EXPECT_EQ(l->focusPolicy(), Qt::NoFocus);
        // Only the readouts have a colour of their own; a label that fills
        // its background at all fills it with the window's.
        if (e.kind == Is::AutoLabel && l->autoFillBackground()) {
            EXPECT_EQ(l->palette().color(QPalette::Window), window.palette().color(QPalette::Window));
        }
        if (e.kind == Is::FixedLabel) {
            EXPECT_TRUE(l->autoFillBackground());
        }
        if (e.kind == Is::AutoLabel) {
            EXPECT_EQ(l->size(), l->sizeHint());
        }
        shown = l->text();
    } else {
        ADD_FAILURE() << "unexpected widget class " << w->metaObject()->className();
    }
    EXPECT_EQ(shown, q(e.text));
}

INSTANTIATE_TEST_SUITE_P(Controls, Layout, ::testing::ValuesIn(kLayout),
                         [](const ::testing::TestParamInfo<Expect> &info) {
                             std::string s = info.param.name;
                             for (char &c : s)
                                 c = (c == '(') ? '_' : c;
                             std::erase(s, ')');
                             return s;
                         });

TEST_F(Panel, WindowIsFixedAtItsClientSizeWithItsCaption)
{
    EXPECT_EQ(window.windowTitle(), q("多缓冲区采集方式"));
    EXPECT_EQ(window.size(), QSize(384, 385));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
}

TEST_F(Panel, TableHas32ControlsAllCreatedAndAllExpected)
{
    std::map<ControlKind, int> kinds;
    std::set<QString> fromTable;
    for (const ControlDef &s : controlTable()) {
        ++kinds[s.kind];
        const QString name = QString::fromStdString(objectNameFor(s.name, s.index));
        EXPECT_EQ(window.findChildren<QObject *>(name).size(), 1) << name.toStdString();
        if (s.kind != ControlKind::Timer)
            fromTable.insert(name);
    }
    EXPECT_EQ(controlTable().size(), 32u);
    const std::map<ControlKind, int> want{{ControlKind::Button, 4}, {ControlKind::TextBox, 2},
                                          {ControlKind::Frame, 2},  {ControlKind::Label, 19},
                                          {ControlKind::FixedLabel, 4}, {ControlKind::Timer, 1}};
    EXPECT_EQ(kinds, want);
    std::set<QString> expected;
    for (const Expect &e : kLayout)
        expected.insert(q(e.name));
    EXPECT_EQ(fromTable, expected);
}

TEST_F(Panel, ReadoutBoxesNeverGrow)
{
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        auto *l = as<QLabel>(("lblAD(" + std::to_string(i) + ")").c_str());
        ASSERT_NE(l, nullptr);
        const QRect before = l->geometry();
        window.setCaption(voltsCaption(i), "-12345.678901234");
        EXPECT_EQ(l->text(), q("-12345.678901234"));
        EXPECT_EQ(l->geometry(), before);
        EXPECT_EQ(l->minimumSize(), l->maximumSize());
        EXPECT_EQ(l->palette().color(l->backgroundRole()), QColor(255, 192, 128));
        EXPECT_EQ(l->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    }
}

TEST_F(Panel, AutoSizedLabelGrowsAndShrinksToTheRightOfItsCorner)
{
    auto *l = as<QLabel>("lblBlock");
    ASSERT_NE(l, nullptr);
    const QRect start = l->geometry();
    window.setCaption(Caption::Block, "Error=-2147483648");
    EXPECT_EQ(l->pos(), start.topLeft());
    EXPECT_GT(l->width(), start.width());
    EXPECT_EQ(l->height(), start.height());
    EXPECT_EQ(l->size(), l->sizeHint());
    window.setCaption(Caption::Block, "1");
    EXPECT_EQ(l->pos(), start.topLeft());
    EXPECT_LT(l->width(), start.width());
}

// Counts the events a caption change must not cause.
class EventCounter : public QObject {
public:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints[o->objectName()];
        if (e->type() == QEvent::LayoutRequest)
            ++layoutRequests;
        return false;
    }
    std::map<QString, int> paints;
    int layoutRequests = 0;
};

TEST_F(Panel, ACaptionChangeRepaintsItsLabelAloneAndLaysNothingOut)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    EventCounter counter;
    for (QWidget *w : std::initializer_list<QWidget *>{&window, ctl("Frame2"), ctl("lblBlock"), ctl("lblDI_0")})
        w->installEventFilter(&counter);
    window.setCaption(Caption::Block, " 1");
    window.setCaption(Caption::DI_0, " 1");
    QApplication::processEvents();
    // What every tick does: new texts of the same width.
    for (const char *text : {" 2", " 3", " 7"}) {
        SCOPED_TRACE(text);
        counter.paints.clear();
        counter.layoutRequests = 0;
        window.setCaption(Caption::Block, text);
        window.setCaption(Caption::DI_0, text);
        QApplication::processEvents();
        EXPECT_EQ(counter.paints[q("lblBlock")], 1);
        EXPECT_EQ(counter.paints[q("lblDI_0")], 1);
        EXPECT_EQ(counter.paints[q("FrmMultiBuf")], 0);
        EXPECT_EQ(counter.paints[q("Frame2")], 0);
        EXPECT_EQ(counter.layoutRequests, 0);
    }
    // A wider text grows the label, a narrower one shrinks it.
    for (const char *text : {" 12345", " 4"}) {
        window.setCaption(Caption::Block, text);
        QApplication::processEvents();
        EXPECT_EQ(ctl("lblBlock")->size(), ctl("lblBlock")->sizeHint()) << text;
    }
}

struct Route {
    const char *name;
    Caption caption;
    const char *objectName;
};
const Route kRoutes[] = {
    {"block", Caption::Block, "lblBlock"},
    {"ring_position", Caption::RingPos, "lblptr"},
    {"family_member_first", Caption::Volts0, "lblAD(0)"},
    {"family_member_last", Caption::Volts3, "lblAD(3)"},
    {"plain_name_prefix_of_others", Caption::DI, "lblDI"},
    {"plain_name_ending_in_digit", Caption::DI_0, "lblDI_0"},
    {"bit_header", Caption::Bit, "lblBit"},
    {"child_of_a_frame", Caption::DI_1, "lblDI_1"},
};

class CaptionRoute : public Panel, public ::testing::WithParamInterface<Route> {};

TEST_P(CaptionRoute, ReachesExactlyOneLabel)
{
    const Route &r = GetParam();
    window.setCaption(r.caption, "★");
    for (QLabel *l : window.findChildren<QLabel *>())
        EXPECT_EQ(l->text() == q("★"), l->objectName() == q(r.objectName)) << l->objectName().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Names, CaptionRoute, ::testing::ValuesIn(kRoutes), kRowName);

TEST_F(Panel, TabCyclesFromExitThroughTheInputsAndBack)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), q("cmdExit"));
    for (const char *next : {"cmdStart", "cmdSWO", "txtSWO_0", "cmdStop", "txtswChn", "cmdExit"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), q(next));
    }
}

TEST_F(Panel, TimerStartsDisabledAtOneHundredMillisecondsAndTicksTheLogic)
{
    QTimer *t = window.findChild<QTimer *>(q("TimerAD"));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->interval(), 100);
    EXPECT_FALSE(t->isSingleShot());
    EXPECT_FALSE(window.timerEnabled());
    window.setTimerEnabled(true);
    EXPECT_TRUE(t->isActive());
    window.setTimerEnabled(false);
    EXPECT_FALSE(t->isActive());

    EXPECT_CALL(driver, QueryBuf()).Times(1).WillOnce(Return(int16_t{0}));
    QMetaObject::invokeMethod(t, "timeout");
}

TEST_F(Panel, ExitStopsTheCardTwiceAndClosesTheWindow)
{
    EXPECT_CALL(driver, StopIntr()).Times(2);
    window.show();
    as<QPushButton>("cmdExit")->click();
    EXPECT_FALSE(window.isVisible());
    QCloseEvent again; // e.g. the session ending: the unload step has already run
    QApplication::sendEvent(&window, &again);
}

TEST_F(Panel, CloseBoxStopsTheCardOnce)
{
    EXPECT_CALL(driver, StopIntr()).Times(1);
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
}

// A driver that takes its time to stop must not see a tick after the last
// StopIntr: the timer goes with the window.
TEST_F(Panel, NoTickReachesTheDriverAfterTheWindowUnloads)
{
    ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
    ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
    bool unloaded = false;
    int ticksAfterUnload = 0;
    ON_CALL(driver, QueryBuf()).WillByDefault(::testing::Invoke([&] {
        ticksAfterUnload += unloaded;
        return int16_t{0};
    }));
    window.show();
    as<QPushButton>("cmdStart")->click();
    ASSERT_TRUE(window.timerEnabled());
    ON_CALL(driver, StopIntr()).WillByDefault(::testing::Invoke([&] {
        QTest::qSleep(150); // longer than the tick's interval
        unloaded = true;
        return 1;
    }));
    EXPECT_TRUE(window.close());
    QTest::qWait(350);
    EXPECT_FALSE(window.timerEnabled());
    EXPECT_EQ(ticksAfterUnload, 0);
}

TEST_F(Panel, StartAndStopClicksReachTheDriver)
{
    ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
    window.show();
    EXPECT_CALL(driver, StartIntr(_, _, _, _, _, _, _)).Times(1).WillOnce(Return(1));
    QTest::mouseClick(as<QPushButton>("cmdStart"), Qt::LeftButton);
    EXPECT_TRUE(window.timerEnabled());
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    EXPECT_CALL(driver, StopIntr()).Times(1);
    QTest::mouseClick(as<QPushButton>("cmdStop"), Qt::LeftButton);
    EXPECT_FALSE(window.timerEnabled());
}

TEST_F(Panel, OutputButtonReadsTheTextBoxesAndMarksUnusableInput)
{
    auto *value = as<QLineEdit>("txtSWO_0");
    auto *group = as<QLineEdit>("txtswChn");
    ASSERT_TRUE(value && group);
    const QColor plain = value->palette().color(QPalette::Base);

    value->setText(q("123456789")); // more than 32 bits
    EXPECT_CALL(driver, Tvo_DO(_, _)).Times(0);
    as<QPushButton>("cmdSWO")->click();
    EXPECT_FALSE(value->toolTip().isEmpty());
    EXPECT_NE(value->palette().color(QPalette::Base), plain);
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    value->setText(q("A5"));
    group->setText(q("1"));
    EXPECT_CALL(driver, Tvo_DO(int16_t{1}, int16_t{0xA5})).Times(1);
    as<QPushButton>("cmdSWO")->click();
    EXPECT_TRUE(value->toolTip().isEmpty());
    EXPECT_EQ(value->palette().color(QPalette::Base), plain);
}

// The logic only reads the two boxes: a click leaves what the operator typed,
// the cursor and the selection as they were, whether the write goes out or not.
TEST_F(Panel, OutputButtonLeavesTheTextBoxesAsTyped)
{
    auto *group = as<QLineEdit>("txtswChn");
    auto *value = as<QLineEdit>("txtSWO_0");
    ASSERT_TRUE(group && value);
    struct Typed {
        const char *row;
        const char *group;
        const char *value;
        int writes;
    };
    const Typed rows[] = {
        {"written", " 1.5 ", "a5 ", 1},
        {"group_out_of_range", "40000", "11", 0},
        {"value_out_of_range", "1", "1FFFFFFFF", 0},
        {"junk_and_blanks", "\t&h1x", " f f", 1},
    };
    window.show();
    for (const Typed &r : rows) {
        SCOPED_TRACE(r.row);
        group->setText(q(r.group));
        group->setCursorPosition(1);
        value->setText(q(r.value));
        value->setSelection(1, 2);
        EXPECT_CALL(driver, Tvo_DO(_, _)).Times(r.writes);
        QTest::mouseClick(as<QPushButton>("cmdSWO"), Qt::LeftButton);
        ::testing::Mock::VerifyAndClearExpectations(&driver);
        EXPECT_EQ(group->text().toStdString(), r.group);
        EXPECT_EQ(group->cursorPosition(), 1);
        EXPECT_FALSE(group->hasSelectedText());
        EXPECT_EQ(value->text().toStdString(), r.value);
        EXPECT_EQ(value->selectionStart(), 1);
        EXPECT_EQ(value->selectedText().toStdString(), std::string(r.value).substr(1, 2));
    }
}

TEST_F(Panel, TextBoxesReturnWholeUtf8TextsOfAnyLength)
{
    // Longer than Qt's default 32767-character limit on a line edit.
    const std::string longText = "1" + std::string(40000, '0');
    for (const auto &[box, name] : {std::pair{TextBox::Group, "txtswChn"}, std::pair{TextBox::Value, "txtSWO_0"}}) {
        SCOPED_TRACE(name);
        as<QLineEdit>(name)->setText(q("通道 1"));
        EXPECT_EQ(window.text(box), "通道 1");
        as<QLineEdit>(name)->setText(QString::fromStdString(longText));
        EXPECT_EQ(window.text(box), longText);
    }
}

// Every line of a driver problem's tooltip fits the window, 384 px at 96 dpi
// (a blank ending a line takes no room), and so does the tooltip.
void expectTooltipFitsTheWindow(const QString &tip)
{
    const QFontMetrics fm(QToolTip::font());
    for (const QString &line : tip.split(QLatin1Char('\n')))
        EXPECT_LE(fm.horizontalAdvance(line.trimmed()), 384) << line.toStdString();
    // And the tooltip itself, with its margins, once shown.
    QToolTip::showText(QPoint(0, 0), tip);
    const QWidget *shown = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == QLatin1String("qtooltip_label"))
            shown = w;
    ASSERT_NE(shown, nullptr);
    EXPECT_LE(shown->width(), 384);
    QToolTip::hideText();
}

TEST(PanelProgram, MissingDriverLibraryStillOpensTheWindowAndNamesTheCause)
{
    ::testing::internal::CaptureStderr();
    PanelProgram program({nullptr, "libadcard-panel-test-missing.so"});
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(program.window().isVisible());
    const QString tip = program.window().control(q("lblBlock"))->toolTip();
    const QString flat = QString(tip).remove(QLatin1Char('\n'));
    EXPECT_EQ(flat.count(q("libadcard-panel-test-missing.so")), 1) << tip.toStdString();
    EXPECT_TRUE(flat.contains(q("cannot open shared object file"))) << tip.toStdString();
    EXPECT_TRUE(flat.contains(q("无法加载驱动库"))) << tip.toStdString();
    EXPECT_TRUE(flat.contains(q("请使用 adcard-panel-sim"))) << tip.toStdString();
    expectTooltipFitsTheWindow(tip);
    // Standard error keeps the loader's own line, in English.
    EXPECT_EQ(err, "adcard: cannot load the card driver library libadcard-panel-test-missing.so: "
                   "libadcard-panel-test-missing.so: cannot open shared object file: No such file or directory\n");
}

TEST(PanelProgram, MissingDriverEntryIsNamedWhenFirstCalled)
{
    ::testing::internal::CaptureStderr();
    PanelProgram program({nullptr, ADPANEL_PARTIAL_LIBRARY});
    QWidget *block = program.window().control(q("lblBlock"));
    EXPECT_TRUE(block->toolTip().isEmpty());
    qobject_cast<QPushButton *>(program.window().control(q("cmdSWO")))->click();
    const std::string err = ::testing::internal::GetCapturedStderr();
    const QString tip = block->toolTip();
    const QString flat = QString(tip).remove(QLatin1Char('\n'));
    EXPECT_TRUE(flat.contains(q("缺少入口 Tvo_DO（_Tvo_DO@8）"))) << tip.toStdString();
    EXPECT_FALSE(flat.contains(q("adcard-panel-sim"))) << "the library itself was found";
    expectTooltipFitsTheWindow(tip);
    EXPECT_NE(err.find("has no entry Tvo_DO (_Tvo_DO@8)"), std::string::npos) << err;
}

TEST(PanelLook, FusionBasedStyleAndAFontWithEveryGlyph)
{
    auto *style = qobject_cast<PanelStyle *>(QApplication::style());
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->baseStyle()->name(), q("fusion"));
    EXPECT_EQ(QFontInfo(QApplication::font()).family(), q("Adpanel Mono"));
    const QFontMetrics fm(QApplication::font());
    for (const ControlDef &s : controlTable())
        for (QChar c : QString::fromUtf8(s.text.data(), static_cast<qsizetype>(s.text.size())))
            EXPECT_TRUE(fm.inFont(c)) << s.name << " U+" << std::hex << static_cast<unsigned>(c.unicode());
}

struct Conversion {
    const char *row;
    int twips;
    double dpi;
    int px;
};

TEST(Twips, ToPixelsRoundsToNearest)
{
    const Conversion rows[] = {
        {"one_inch_at_96", 1440, 96, 96},   {"round_up_96", 1452, 96, 97},
        {"round_down_96", 336, 96, 22},     {"client_width_120", 5760, 120, 480},
        {"half_rounds_up_72", 30, 72, 2},   {"frame_height_144", 1452, 144, 145},
        {"zero", 0, 96, 0},
    };
    for (const Conversion &r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(twipsToPixels(r.twips, r.dpi), r.px);
    }
}

TEST(Twips, FontPixelsRoundDown)
{
    const Conversion rows[] = {
        {"at_72", 0, 72, 8},   {"at_96", 0, 96, 11},   {"at_120", 0, 120, 13},
        {"at_144", 0, 144, 16}, {"at_192", 0, 192, 22},
    };
    for (const Conversion &r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(panelFontPixels(r.dpi), r.px);
    }
}

} // namespace
} // namespace adcard
