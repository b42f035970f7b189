// The program's window after a Start and one tick, compared pixel for pixel
// with a committed reference image. A change of font, style or repaint code
// that alters what the operator sees fails here.
#include "panel/frm_multibuf.h"
#include "tests/support/mock_driver.h"
#include "panel/panel_app.h"

#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace adcard {
namespace {

using adcard::testing::MockDriver;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

// Per channel: full scale, mid-high, mid-low, zero (4.999, 2.325, -2.559, -5.001 V).
constexpr int16_t kCodes[4] = {4095, 3000, 1000, 0};
constexpr int16_t kPorts[2] = {0xA5, 0x3C};

// Red where the images differ, the actual image faded elsewhere.
QImage diffImage(const QImage &actual, const QImage &reference, qsizetype &count, QPoint &first)
{
    QImage diff(actual.size().expandedTo(reference.size()), QImage::Format_ARGB32);
    diff.fill(Qt::white);
    count = 0;
    for (int y = 0; y < diff.height(); ++y)
        for (int x = 0; x < diff.width(); ++x) {
            const bool inA = actual.rect().contains(x, y);
            const bool inR = reference.rect().contains(x, y);
            if (inA && inR && actual.pixel(x, y) == reference.pixel(x, y)) {
                const int g = 192 + qGray(actual.pixel(x, y)) / 4;
                diff.setPixel(x, y, qRgb(g, g, g));
                continue;
            }
            if (count++ == 0)
                first = QPoint(x, y);
            diff.setPixel(x, y, qRgb(255, 0, 0));
        }
    return diff;
}

TEST(PanelPixels, AfterStartAndOneTickMatchesTheReference)
{
    ASSERT_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchY(), 96.0) << "the reference is at 96 dpi";
    // The volts' decimal separator comes from the locale.
    QLocale::setDefault(QLocale::c());

    NiceMock<MockDriver> driver;
    ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
    ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
    EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(int16_t{1})).WillRepeatedly(Return(int16_t{0}));
    EXPECT_CALL(driver, ADResult(_)).WillOnce([](int16_t *buf) {
        for (int i = 0; i < 4000; ++i)
            buf[1 + i] = kCodes[i % 4];
        return 1;
    });
    EXPECT_CALL(driver, Tvo_DI(2, _)).WillOnce([](int32_t, int16_t *states) {
        states[0] = kPorts[0];
        states[1] = kPorts[1];
        return int16_t{1};
    });

    PanelProgram program({&driver});
    FrmMultiBuf &window = program.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.acquisition().onStart();
    window.acquisition().onTick();
    QApplication::processEvents(); // later ticks find no block and change nothing

    const QImage actual = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage reference = QImage(QStringLiteral(ADPANEL_PIXEL_REFERENCE)).convertToFormat(QImage::Format_RGB32);
    EXPECT_FALSE(reference.isNull()) << "cannot read " << ADPANEL_PIXEL_REFERENCE;

    qsizetype count = 0;
    QPoint first;
    const QImage diff = diffImage(actual, reference, count, first);
    if (count == 0 && actual.size() == reference.size())
        return;
    const QString out = QStringLiteral(ADPANEL_PIXEL_OUTPUT);
    actual.save(out + QStringLiteral("_actual.png"));
    diff.save(out + QStringLiteral("_diff.png"));
    ADD_FAILURE() << count << " pixels differ, the first at (" << first.x() << ", " << first.y()
                  << "); actual size " << actual.width() << "x" << actual.height() << ", reference "
                  << reference.width() << "x" << reference.height() << ".\n  reference: " << ADPANEL_PIXEL_REFERENCE
                  << "\n  actual:    " << out.toStdString() << "_actual.png\n  diff:      " << out.toStdString()
                  << "_diff.png";
}

} // namespace
} // namespace adcard
