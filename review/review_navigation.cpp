// Finding the way in a run: centring on a scan, the next marker or hole, a
// wall-clock time.
#include "review/review_window.h"

#include "export/csv_export.h"
#include "plot/plot_widget.h"
#include "plot/window_text.h"
#include "review/own_loop.h"
#include "review/search_pane.h"
#include "review/time_entry.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QToolButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QStorageInfo>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace adcard {

void ReviewWindow::centreOn(double scan)
{
    const PlotRenderer &r = plot_->renderer();
    const double half = (r.last() - r.first()) / 2;
    plot_->renderer().setRange(scan - half, scan + half);
    showDigital();
    plot_->refresh();
}

bool ReviewWindow::jumpToHole(int direction)
{
    if (!run_)
        return false;
    const PlotRenderer &r = plot_->renderer();
    const auto centre = static_cast<int64_t>(std::llround((r.first() + r.last()) / 2));
    const int64_t end = run_->scanCount();
    int64_t total = 0;
    if (direction > 0) {
        const auto next = run_->gaps(centre + 1, end, 1, total);
        if (next.empty())
            return false;
        centreOn(static_cast<double>(next.front().first));
        return true;
    }
    // The last hole before the centre: windows growing back from it, each
    // read to its end a few thousand holes at a time.
    for (int64_t reach = std::max<int64_t>(1, static_cast<int64_t>(r.last() - r.first()));; reach *= 8) {
        int64_t lo = std::max<int64_t>(0, centre - reach);
        std::optional<int64_t> last;
        for (;;) {
            const auto some = run_->gaps(lo, centre, 4096, total);
            if (some.empty())
                break;
            last = some.back().first;
            if (std::ssize(some) >= total || some.back().first <= lo)
                break;
            lo = some.back().first;
        }
        if (last && *last < centre) {
            centreOn(static_cast<double>(*last));
            return true;
        }
        if (centre - reach <= 0)
            return false;
    }
}

bool ReviewWindow::goToTime(const QDateTime &when)
{
    if (!run_ || run_->scansPerSecond() <= 0 || run_->info().startTimeNs <= 0 || !when.isValid())
        return false;
    const double seconds = static_cast<double>(when.toMSecsSinceEpoch() - run_->info().startTimeNs / 1000000) / 1000.0;
    const double scan = seconds * run_->scansPerSecond();
    if (scan < 0 || scan > static_cast<double>(run_->scanCount()))
        return false;
    centreOn(scan);
    return true;
}

void ReviewWindow::askTime()
{
    if (!run_ || run_->scansPerSecond() <= 0 || run_->info().startTimeNs <= 0) {
        say(QStringLiteral("该运行没有开始时间或采样率，无法按时间定位"), true);
        return;
    }
    const OwnLoop loop(*this);
    const PlotRenderer &r = plot_->renderer();
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(run_->info().startTimeNs / 1000000);
    const QDateTime now = start.addMSecs(static_cast<qint64>((r.first() + r.last()) / 2 / run_->scansPerSecond() * 1000.0));
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, QStringLiteral("转到时间"),
        QStringLiteral("日期和时间（yyyy-MM-dd HH:mm:ss），或只写时间（HH:mm:ss[.zzz]），\n"
                       "或自开始的秒数（120 s），或自当前位置前后的秒数（+30 s、−30 s）："),
        QLineEdit::Normal,
        now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), &ok);
    if (!ok || closing_)
        return;
    const QString t = text.trimmed();
    if (const auto entry = parseSecondsEntry(t.toStdString())) {
        // Seconds from the start, or from the middle of the view.
        const double rate = run_->scansPerSecond();
        const double scan = entry->seconds * rate + (entry->fromView ? (r.first() + r.last()) / 2 : 0.0);
        if (scan < 0 || scan > static_cast<double>(run_->scanCount())) {
            say(QStringLiteral("%1 不在该运行之内").arg(t), true);
        } else {
            centreOn(scan);
            say({}, false);
        }
        return;
    }
    QDateTime when;
    for (const QString &format : {QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"), QStringLiteral("yyyy-MM-dd HH:mm:ss"),
                                  QStringLiteral("yyyy-MM-dd HH:mm")})
        if (!when.isValid())
            when = QDateTime::fromString(t, format);
    if (!when.isValid()) {
        // A time alone: on the run's first day that has it after the start.
        QTime time;
        for (const QString &format : {QStringLiteral("HH:mm:ss.zzz"), QStringLiteral("HH:mm:ss"), QStringLiteral("HH:mm")})
            if (!time.isValid())
                time = QTime::fromString(t, format);
        if (time.isValid()) {
            when = QDateTime(start.date(), time);
            if (when < start)
                when = when.addDays(1);
        }
    }
    if (!when.isValid())
        say(QStringLiteral("无法识别的时间：%1").arg(t), true);
    else if (!goToTime(when))
        say(QStringLiteral("%1 不在该运行之内").arg(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))), true);
    else
        say({}, false);
}

bool ReviewWindow::jumpToMarker(int direction)
{
    const PlotRenderer &r = plot_->renderer();
    const double centre = (r.first() + r.last()) / 2;
    std::optional<int64_t> target;
    for (const int64_t scan : markerScans_) {
        if (direction > 0 && static_cast<double>(scan) > centre + 0.5) {
            target = scan;
            break;
        }
        if (direction < 0 && static_cast<double>(scan) < centre - 0.5)
            target = scan;
    }
    if (!target)
        return false;
    // The list in the toolbar says which marker is shown now.
    markerList_->setCurrentIndex(markerList_->findData(static_cast<double>(*target)));
    const double half = (r.last() - r.first()) / 2;
    plot_->renderer().setRange(static_cast<double>(*target) - half, static_cast<double>(*target) + half);
    showDigital();
    plot_->refresh();
    return true;
}

} // namespace adcard
