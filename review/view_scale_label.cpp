#include "review/view_scale_label.h"

#include "plot/plot_widget.h"
#include "recording/recording_reader.h"

#include <QLocale>
#include <QTimer>

#include <cmath>

namespace adcard {

ViewScaleLabel::ViewScaleLabel(PlotWidget *plot, std::function<const RecordedRun *()> run)
    : QLabel(plot), plot_(plot), run_(std::move(run))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStyleSheet(QStringLiteral("color: #505050; background: rgba(255, 255, 255, 190); padding: 1px 4px;"));
    // The view moves by keys, the mouse, a search and 跟随: looked at a few
    // times a second rather than hooked into each.
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ViewScaleLabel::update);
    timer->start(250);
    update();
}

QString ViewScaleLabel::text(double scansPerPixel, const RecordedRun &run)
{
    // The level a frame reads: the widest whose spans still fit a pixel.
    int level = 0;
    for (int l = 1; l <= run.summaryLevels(); ++l)
        if (double(run.summaryWidth(l)) <= scansPerPixel)
            level = l;
    const QString scans = scansPerPixel >= 10 ? QLocale::c().toString(qint64(std::llround(scansPerPixel)))
                                              : QString::number(scansPerPixel, 'g', 2);
    return QStringLiteral("1 像素 = %1 个扫描 · %2")
        .arg(scans, level == 0 ? QStringLiteral("原始扫描") : QStringLiteral("第 %1 层").arg(level));
}

void ViewScaleLabel::update()
{
    const RecordedRun *run = run_();
    const PlotRenderer &r = plot_->renderer();
    const double px = r.xOfScan(r.first() + 1000, plot_->rect()) - r.xOfScan(r.first(), plot_->rect());
    if (!run || !(px > 0)) {
        hide();
        return;
    }
    QString t = text(1000 / px, *run);
    // Overlaid, more than two units would need more than two axes.
    if (const ValueAxes axes = r.valueAxes(r.plotRect(plot_->rect())); axes.lanesForUnits)
        t += QStringLiteral(" · %1 种单位，分道显示").arg(axes.distinctUnits);
    if (t != QLabel::text()) {
        setText(t);
        adjustSize();
    }
    move(plot_->width() - width() - 8, 4);
    show();
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_view_scale_label.cpp"
