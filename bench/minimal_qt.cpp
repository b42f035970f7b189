// The reference program for the panel's start-up time, memory and CPU: the
// least a Qt Widgets program does to show one label.
//
// The panel's captions are Chinese, so its first paint opens and shapes a CJK
// face, which costs start-up time and tens of MiB of mapped font. A Latin
// label would leave that out and charge the panel for its language rather
// than for its code; this label is therefore Chinese, in the panel's style,
// font families and font size. Those are copied here, not called, because
// the panel's set-up functions share an object file with its window, and
// linking them would pull the window code into the reference.
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <vector>
#include <cmath>

namespace {
// As the panel: 165 twips, rounded down to whole pixels.
int fontPixels(double dpi) { return std::max(1, static_cast<int>(std::floor(165 * dpi / 1440.0))); }
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QScreen *screen = QGuiApplication::primaryScreen();
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(fontPixels(screen ? screen->logicalDotsPerInchY() : 96.0));
    QApplication::setFont(font);

    // One label is the window itself; more share one window.
    const int labels = std::max(1, qEnvironmentVariableIntValue("MINIMAL_QT_LABELS"));
    QWidget window;
    QLabel label(QStringLiteral("多缓冲区采集方式"), labels > 1 ? &window : nullptr);
    label.adjustSize();

    // With MINIMAL_QT_LABELS=n (n > 1), n - 1 more labels below the first,
    // each of fixed size, so that a new text is painted and never measured:
    // as many captions as the panel rewrites on a tick, at Qt's floor.
    std::vector<QLabel *> more;
    for (int i = 1; i < labels; ++i) {
        auto *l = new QLabel(QStringLiteral(" 0"), &window);
        l->setGeometry(8, 8 + 18 * i, 200, 16);
        l->setFixedSize(l->size());
        more.push_back(l);
    }
    if (labels > 1) {
        window.adjustSize();
        window.show();
    } else {
        label.show();
    }

    // With MINIMAL_QT_TICK_MS set, every label's number changes at that
    // period: the least CPU a Qt window repainting at the panel's rate can cost.
    QTimer tick;
    int count = 0;
    if (const int ms = qEnvironmentVariableIntValue("MINIMAL_QT_TICK_MS"); ms > 0) {
        QObject::connect(&tick, &QTimer::timeout, &label, [&] {
            label.setText(QStringLiteral("多缓冲区采集方式 %1").arg(++count));
            for (QLabel *l : more)
                l->setText(QStringLiteral(" %1").arg(count));
        });
        tick.start(ms);
    }
    return QApplication::exec();
}
