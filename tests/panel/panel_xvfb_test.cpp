// The program's own window on a real (virtual) X server at 96 dpi: its size,
// a few positions, a screenshot, and no caption running into another
// control, both at start and with typical and widest running texts.
#include "panel/controls.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace adcard {
namespace {

QString q(const char *utf8) { return QString::fromUtf8(utf8); }

// What a control paints by itself (no children), as an image the size of
// the window, so that controls in different frames can be compared.
QImage paintedAlone(QWidget *w, QWidget *window)
{
    QImage img(window->size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    w->render(&p, w->mapTo(window, QPoint(0, 0)), QRegion(), QWidget::RenderFlags());
    return img;
}

QRect inkBox(const QImage &img)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) > 0)
                box |= QRect(x, y, 1, 1);
    return box;
}

bool paintsInside(const QImage &img, const QRect &r)
{
    const QRect clipped = r & img.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            if (qAlpha(img.pixel(x, y)) > 0)
                return true;
    return false;
}

// Every auto-sized label's text must stay inside its parent and must not
// touch anything another control paints.
std::vector<std::string> collisions(FrmMultiBuf &window)
{
    std::map<QString, QImage> painted;
    std::vector<std::pair<QString, bool>> controls; // name, auto-sized
    for (const ControlDef &s : controlTable()) {
        if (s.kind == ControlKind::Timer)
            continue;
        const QString name = QString::fromStdString(objectNameFor(s.name, s.index));
        painted[name] = paintedAlone(window.control(name), &window);
        controls.emplace_back(name, s.kind == ControlKind::Label);
    }
    std::vector<std::string> found;
    for (const auto &[name, autoSized] : controls) {
        if (!autoSized)
            continue;
        QWidget *label = window.control(name);
        const QRect ink = inkBox(painted[name]);
        const QWidget *parent = label->parentWidget();
        const QRect parentBox(parent->mapTo(&window, QPoint(0, 0)), parent->size());
        if (!parentBox.contains(ink))
            found.push_back(name.toStdString() + " is cut off by its parent");
        for (const auto &[other, unused] : controls)
            if (other != name && paintsInside(painted[other], ink))
                found.push_back(name.toStdString() + " runs into " + other.toStdString());
    }
    return found;
}

struct CaptionText {
    Caption caption;
    const char *text;
};
struct RunningState {
    const char *row;
    std::vector<CaptionText> captions;
};

const std::vector<CaptionText> kTypical = {
    {Caption::Volts0, "-5.001"}, {Caption::Volts1, "-5.001"}, {Caption::Volts2, "-5.001"}, {Caption::Volts3, "-5.001"},
    {Caption::Block, " 12345"}, {Caption::RingPos, " 12000"}, {Caption::DI, "A5  0"},
    {Caption::Bit, "            7   6   5   4   3   2   1   0"},
    {Caption::DI_0, "A5      1   0   1   0   0   1   0   1"},
    {Caption::DI_1, "0      0   0   0   0   0   0   0   0"},
};
const std::vector<CaptionText> kWidest = {
    {Caption::Block, "Error=-2147483648"}, {Caption::RingPos, "-2147483648"}, {Caption::DI, "FFFF  FFFF"},
    {Caption::DI_0, "FFFF   1   1   1   1   1   1   1   1"},
    {Caption::DI_1, "FFFF   1   1   1   1   1   1   1   1"},
};

TEST(PanelOnX, ProgramWindowFitsAndNoCaptionCollides)
{
    ASSERT_EQ(QGuiApplication::platformName(), q("xcb")) << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    PanelProgram program({nullptr, "libadcard-panel-test-missing.so"});
    FrmMultiBuf &window = program.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.screen()->logicalDotsPerInchX(), 96.0) << "xvfb-run must start the server with -dpi 96";

    EXPECT_EQ(window.geometry().size(), QSize(384, 385));
    EXPECT_EQ(window.control(q("cmdStart"))->geometry(), QRect(282, 26, 62, 30));
    EXPECT_EQ(window.control(q("lblAD(1)"))->geometry(), QRect(82, 32, 38, 12));
    EXPECT_EQ(window.control(q("Frame1"))->geometry(), QRect(2, 266, 374, 103));
    EXPECT_EQ(window.control(q("txtSWO_0"))->mapTo(&window, QPoint(0, 0)), QPoint(140, 327));

    const std::vector<RunningState> states = {{"start", {}}, {"widest", kWidest}, {"typical", kTypical}};
    for (const RunningState &state : states) {
        SCOPED_TRACE(state.row);
        for (const CaptionText &c : state.captions)
            window.setCaption(c.caption, c.text);
        for (const std::string &hit : collisions(window))
            ADD_FAILURE() << hit;
    }
    // "-5.001" must fit its fixed box.
    auto *ad = qobject_cast<QLabel *>(window.control(q("lblAD(0)")));
    EXPECT_LE(ad->fontMetrics().horizontalAdvance(ad->text()), ad->contentsRect().width());

    // The screenshot shows the typical running texts, as the X server has them.
    window.repaint();
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    EXPECT_EQ(shot.size(), QSize(384, 385));
    EXPECT_TRUE(shot.save(QStringLiteral(ADPANEL_SCREENSHOT))) << ADPANEL_SCREENSHOT;

    // Exit closes the window, which ends the program's event loop with status 0.
    QTimer::singleShot(0, &window, [&window] {
        QTest::mouseClick(window.control(QStringLiteral("cmdExit")), Qt::LeftButton);
    });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
} // namespace adcard
