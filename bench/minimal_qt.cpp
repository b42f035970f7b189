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

    QLabel label(QStringLiteral("多缓冲区采集方式"));
    label.show();

    // With MINIMAL_QT_TICK_MS set, the label's number changes at that period:
    // the least CPU a Qt window repainting at the panel's rate can cost.
    QTimer tick;
    int count = 0;
    if (const int ms = qEnvironmentVariableIntValue("MINIMAL_QT_TICK_MS"); ms > 0) {
        QObject::connect(&tick, &QTimer::timeout, &label,
                         [&] { label.setText(QStringLiteral("多缓冲区采集方式 %1").arg(++count)); });
        tick.start(ms);
    }
    return QApplication::exec();
}
