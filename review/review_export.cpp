// What leaves the review window: the CSV of a range and the picture.
#include "review/review_window.h"

#include "export/csv_export.h"
#include "plot/plot_widget.h"
#include "plot/window_text.h"
#include "review/own_loop.h"
#include "review/run_choice.h"
#include "review/search_pane.h"

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

std::pair<int64_t, int64_t> ReviewWindow::exportRange() const
{
    // The scans the table's figures are over.
    const CursorReadout &c = plot_->cursors();
    if (c.valid)
        return {c.first, c.last};
    const PlotRenderer &r = plot_->renderer();
    return {static_cast<int64_t>(std::floor(r.first())), static_cast<int64_t>(std::ceil(r.last()))};
}

bool ReviewWindow::exportCsv(const QString &path)
{
    if (!run_ || closing_)
        return false;
    const OwnLoop loop(*this);
    const auto [first, last] = exportRange();
    QProgressDialog progress(QStringLiteral("导出到 %1…").arg(QFileInfo(path).fileName()), QStringLiteral("取消"), 0,
                             1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    // Paths are UTF-8 below the window, on every system: the file layer
    // widens them on Windows, where the ANSI code page cannot spell every name.
    // The save dialog has asked before replacing a file.
    const ExportTarget target{path.toStdString(), path_.toStdString(), true};
    // For a spreadsheet: the mark Excel needs to read UTF-8 on a Chinese
    // Windows, and the channels by the names this window shows.
    CsvStyle style;
    style.bom = true;
    style.windowNames = true;
    const auto step = [this, &progress](double done) {
        progress.setValue(static_cast<int>(done * 1000));
        return !progress.wasCanceled() && !closing_;
    };
    const ExportResult r = exportCsvFile(*run_, first, last, target, step, {}, style);
    progress.reset();
    switch (r.outcome) {
    case ExportResult::Outcome::Written:
        say(QStringLiteral("已导出 %1 行到 %2").arg(r.rows).arg(path), false);
        return true;
    case ExportResult::Outcome::Cancelled:
        say(QStringLiteral("导出已取消，%1 未写入").arg(path), false);
        return false;
    case ExportResult::Outcome::Failed:
    case ExportResult::Outcome::Refused:
        break;
    }
    say(QStringLiteral("导出失败：%1").arg(QString::fromStdString(r.error)), true);
    return false;
}

bool ReviewWindow::exportPng(const QString &path)
{
    // Never over the recording itself, nor over a file being recorded.
    if (const std::string why = refusedTarget({path.toStdString(), path_.toStdString(), true}); !why.empty()) {
        say(QStringLiteral("导出失败：cannot export: %1").arg(QString::fromStdString(why)), true);
        return false;
    }
    // Written whole or not at all, as the CSV.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && titledPicture().save(&file, "PNG") && file.commit()) {
        say(QStringLiteral("已导出图像到 %1").arg(path), false);
        return true;
    }
    say(QStringLiteral("导出失败：cannot write '%1': %2").arg(path, file.errorString()), true);
    return false;
}

QImage ReviewWindow::titledPicture() const
{
    // A picture that says what it is once it has left the window: the file,
    // the run and its time above, the channels' colours under the title.
    const QImage plot = plot_->renderImage(plot_->size());
    const QFontMetrics fm = plot_->fontMetrics();
    const int line = fm.height() + 4;
    QImage out(plot.width(), plot.height() + 2 * line, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.setFont(plot_->font());
    QString title = QStringLiteral("%1　运行 %2").arg(QFileInfo(path_).fileName()).arg(runNumber_);
    if (const std::string start = run_ ? runStartText(run_->info()) : std::string(); !start.empty())
        title += QStringLiteral("　开始 ") + QString::fromStdString(start);
    p.setPen(Qt::black);
    p.drawText(QRect(6, 2, out.width() - 12, line), Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(title, Qt::ElideMiddle, out.width() - 12));
    int x = 6;
    for (int c = 0; run_ && c < run_->channels(); ++c) {
        if (!plot_->renderer().channelVisible(c))
            continue;
        p.fillRect(QRect(x, line + line / 2 - 2, 16, 4), PlotRenderer::channelColor(c));
        const QString name = QString::fromStdString(channelLabel(run_->info().units, c));
        p.drawText(QRect(x + 20, line, fm.horizontalAdvance(name) + 4, line), Qt::AlignLeft | Qt::AlignVCenter, name);
        x += 20 + fm.horizontalAdvance(name) + 16;
    }
    p.drawImage(0, 2 * line, plot);
    return out;
}

void ReviewWindow::askCsv()
{
    const OwnLoop loop(*this);
    if (!run_)
        return;
    // A whole day is 864 million rows, some 35 GB: the size is said in the
    // dialog's title, a range that large is asked about (No by default), and
    // one the disk cannot hold is refused before a byte is written. About
    // 41 bytes a row for four channels.
    const auto [first, last] = exportRange();
    const double bytes = static_cast<double>(last - first) * (12.0 + 7.5 * run_->channels());
    const auto gb = [](double b) { return QString::fromStdString(approximateSize(b)); };
    const QString rangeName = plot_->cursors().valid ? QStringLiteral("光标之间") : QStringLiteral("显示的范围");
    const QString suggested = QFileInfo(path_).completeBaseName() + QStringLiteral("_run%1.csv").arg(runNumber_);
    const QString path = QFileDialog::getSaveFileName(
        this,
        QStringLiteral("导出 CSV — %1，%2 行，约 %3")
            .arg(rangeName)
            .arg(last - first)
            .arg(QString::fromStdString(approximateSize(bytes))),
        QFileInfo(path_).dir().filePath(suggested), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty() || !run_ || closing_)
        return;
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    if (disk.isValid() && bytes > static_cast<double>(disk.bytesAvailable())) {
        QMessageBox::warning(this, windowName(),
                             QStringLiteral("导出约需 %1，%2 只剩 %3。").arg(gb(bytes), disk.rootPath(),
                                                                        gb(static_cast<double>(disk.bytesAvailable()))));
        return;
    }
    if (bytes > 1e9 && QMessageBox::question(this, windowName(),
                                             QStringLiteral("%1有 %2 行，约 %3。仍要导出吗？")
                                                 .arg(rangeName)
                                                 .arg(last - first)
                                                 .arg(gb(bytes)),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    if (closing_)
        return;
    exportCsv(path);
}

void ReviewWindow::askPng()
{
    const OwnLoop loop(*this);
    const QString suggested = QFileInfo(path_).completeBaseName() + QStringLiteral("_run%1.png").arg(runNumber_);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出 PNG"),
                                                      QFileInfo(path_).dir().filePath(suggested),
                                                      QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty() && !closing_)
        exportPng(path);
}

} // namespace adcard
