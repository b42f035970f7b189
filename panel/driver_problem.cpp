#include "panel/driver_problem.h"

#include "driver/loader.h"

#include <QFont>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

namespace adcard {

namespace {
// A launcher installed beside the program that runs it on the simulated card.
constexpr const char *kSimLauncher = "adcard-panel-sim";
} // namespace

QString driverProblemText(const DriverFailure &failure)
{
    const QString library = QString::fromStdString(failure.library);
    if (failure.kind == DriverFailure::Kind::Host) {
        return QStringLiteral("驱动宿主 %1 不可用：%2。\n在面板重新启动之前不再调用驱动。")
            .arg(library, QString::fromStdString(failure.reason));
    }
    if (failure.kind == DriverFailure::Kind::Entry) {
        return QStringLiteral("驱动库 %1 缺少入口 %2（%3）。")
            .arg(library, QString::fromStdString(failure.entry), QString::fromStdString(failure.decoratedEntry));
    }
    // dlerror starts with the name it was given; the text names it already.
    QString reason = QString::fromStdString(failure.reason);
    const QString prefix = library + QStringLiteral(": ");
    if (reason.startsWith(prefix))
        reason.remove(0, prefix.size());
    return QStringLiteral("无法加载驱动库 %1：%2。\n如需在模拟卡上运行，请使用 %3。")
        .arg(library, reason, QLatin1String(kSimLauncher));
}

QString wrapToWidth(const QString &text, const QFont &font, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            // A blank at a break stays at the end of its line, where it takes
            // no room, so that taking the breaks out gives back the text.
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace adcard
