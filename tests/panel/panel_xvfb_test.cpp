// The program's own window on a real (virtual) X server at 96 dpi: its size,
// a few positions, a screenshot, and no caption or label box running into
// another control, at start and with typical and widest running texts.
#include "acquisition/formatting.h"
#include "acquisition/readout.h"
#include "panel/controls.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <limits>
#include <map>
#include <string>
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
    // A label filled with the window's own colour paints nothing one can
    // see beyond its text.
    const bool plainFill = qobject_cast<QLabel *>(w) && w->autoFillBackground() &&
                           w->palette().color(QPalette::Window) == window->palette().color(QPalette::Window);
    if (plainFill)
        w->setAutoFillBackground(false);
    w->render(&p, w->mapTo(window, QPoint(0, 0)), QRegion(), QWidget::RenderFlags());
    if (plainFill)
        w->setAutoFillBackground(true);
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

QRect boxInWindow(const QWidget *w, const QWidget *window) { return {w->mapTo(window, QPoint(0, 0)), w->size()}; }

std::string str(const QRect &r)
{
    return std::to_string(r.width()) + "x" + std::to_string(r.height()) + "+" + std::to_string(r.x()) + "+" +
           std::to_string(r.y());
}

// The two input-port captions end in a full-width colon, whose glyph leaves
// the right half of its cell blank. At the panel's font the captions' boxes
// are wider than their design width (72 px, not 63) and reach past the left
// edge of the value beside them, which the fixed positions place at 77 and 78
// px. Only that blank last cell may overlap the value's box.
bool knownOverlap(const QWidget *caption, const QWidget *value, const QRect &overlap, const QWidget *window)
{
    const QString pair = caption->objectName() + q(" ") + value->objectName();
    const auto *label = qobject_cast<const QLabel *>(caption);
    if ((pair != q("Label1(6) lblDI_0") && pair != q("Label1(7) lblDI_1")) || !label ||
        !label->text().endsWith(q("：")))
        return false;
    const QRect box = boxInWindow(caption, window);
    const int lastCell = label->fontMetrics().horizontalAdvance(q("："));
    return overlap.left() > box.right() - lastCell && overlap.right() == box.right();
}

// Every auto-sized label's text must stay inside its parent and must not
// touch anything another control paints; and no label's box may overlap
// another control's box (its own frame aside), painted or not.
std::vector<std::string> collisions(FrmMultiBuf &window)
{
    struct Control {
        QString name;
        QWidget *widget;
        bool label;
        bool autoSized;
    };
    std::map<QString, QImage> painted;
    std::vector<Control> controls;
    for (const ControlDef &s : controlTable()) {
        if (s.kind == ControlKind::Timer)
            continue;
        const QString name = QString::fromStdString(objectNameFor(s.name, s.index));
        painted[name] = paintedAlone(window.control(name), &window);
        controls.push_back({name, window.control(name), s.kind == ControlKind::Label || s.kind == ControlKind::FixedLabel,
                            s.kind == ControlKind::Label});
    }
    std::vector<std::string> found;
    for (const Control &c : controls) {
        if (c.autoSized) {
            const QRect ink = inkBox(painted[c.name]);
            if (!boxInWindow(c.widget->parentWidget(), &window).contains(ink))
                found.push_back(c.name.toStdString() + " is cut off by its parent");
            for (const Control &other : controls)
                if (other.name != c.name && paintsInside(painted[other.name], ink))
                    found.push_back(c.name.toStdString() + " runs into " + other.name.toStdString());
        }
        if (!c.label)
            continue;
        const QRect box = boxInWindow(c.widget, &window);
        for (const Control &other : controls) {
            // Each pair of labels once; a frame holds its own labels.
            const bool seen = other.label && other.name <= c.name;
            if (seen || other.widget->isAncestorOf(c.widget))
                continue;
            const QRect otherBox = boxInWindow(other.widget, &window);
            if (box.intersects(otherBox) && !knownOverlap(c.widget, other.widget, box & otherBox, &window))
                found.push_back(c.name.toStdString() + "'s box " + str(box) + " overlaps " + other.name.toStdString() +
                                "'s " + str(otherBox));
        }
    }
    return found;
}

// The X server's own resolution. Qt's logical dpi on X is 96 unless Xft.dpi
// says otherwise, and Qt's physical size comes from RandR, which Xvfb reports
// at 96 dpi whatever -dpi says; only the core screen's millimetres follow -dpi.
double serverDotsPerInch()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return 0;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x11->connection())).data;
    if (!screen || screen->width_in_millimeters == 0)
        return 0;
    return screen->width_in_pixels * 25.4 / screen->width_in_millimeters;
}

struct CaptionText {
    Caption caption;
    std::string text;
};
struct RunningState {
    const char *row;
    std::vector<CaptionText> captions;
};

// The texts the tick writes, made by the same functions.
std::vector<CaptionText> typicalTexts()
{
    std::vector<CaptionText> texts;
    for (int i = 0; i < 4; ++i)
        texts.push_back({voltsCaption(i), voltsText(codeToVolts(0), ".")});
    texts.push_back({Caption::Block, counterText(12345)});
    texts.push_back({Caption::RingPos, counterText(12000)});
    texts.push_back({Caption::DI, portsSummaryText(165, 0)});
    texts.push_back({Caption::Bit, bitHeader()});
    texts.push_back({Caption::DI_0, portRowText(165)});
    texts.push_back({Caption::DI_1, portRowText(0)});
    return texts;
}

// The widest each auto-sized label can get: 32-bit extremes and four hex digits.
std::vector<CaptionText> widestTexts()
{
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    return {{Caption::Block, failureText(kMin)},
            {Caption::RingPos, counterText(kMin)},
            {Caption::DI, portsSummaryText(-1, -1)},
            {Caption::DI_0, portRowText(-1)},
            {Caption::DI_1, portRowText(-1)}};
}

TEST(PanelOnX, ProgramWindowFitsAndNoCaptionCollides)
{
    ASSERT_EQ(QGuiApplication::platformName(), q("xcb")) << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    PanelProgram program({nullptr, "libadcard-panel-test-missing.so"});
    FrmMultiBuf &window = program.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.screen()->logicalDotsPerInchX(), 96.0);
    ASSERT_NEAR(serverDotsPerInch(), 96.0, 1.0) << "xvfb-run must start the server with -dpi 96";

    EXPECT_EQ(window.geometry().size(), QSize(384, 385));
    EXPECT_EQ(window.control(q("cmdStart"))->geometry(), QRect(282, 26, 62, 30));
    EXPECT_EQ(window.control(q("lblAD(1)"))->geometry(), QRect(82, 32, 38, 12));
    EXPECT_EQ(window.control(q("Frame1"))->geometry(), QRect(2, 266, 374, 103));
    EXPECT_EQ(window.control(q("txtSWO_0"))->mapTo(&window, QPoint(0, 0)), QPoint(140, 327));

    const std::vector<RunningState> states = {{"start", {}}, {"widest", widestTexts()}, {"typical", typicalTexts()}};
    for (const RunningState &state : states) {
        SCOPED_TRACE(state.row);
        for (const CaptionText &c : state.captions)
            window.setCaption(c.caption, c.text);
        for (const std::string &hit : collisions(window))
            ADD_FAILURE() << hit;
    }
    // Blanks paint nothing, yet their box reaches cmdExit: only the boxes show it.
    window.setCaption(Caption::Block, "1" + std::string(60, ' '));
    EXPECT_FALSE(collisions(window).empty()) << "a box overlap without ink went unseen";
    for (const CaptionText &c : typicalTexts())
        window.setCaption(c.caption, c.text);
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
