#include "review/review_window.h"

#include "history/history_plot.h"
#include "review/csv_export.h"
#include "review/review_plot.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

QString volts(double code) { return QString::number(codeToVolts(code), 'f', 4); }

// The stats give the RMS of the codes; volts are measured from mid-scale:
// mean((c - 2048)^2) = mean(c^2) - 2 * 2048 * mean(c) + 2048^2.
double rmsVolts(const RangeStats &s)
{
    const double square = s.rms * s.rms - 2 * 2048.0 * s.mean + 2048.0 * 2048.0;
    return std::sqrt(std::max(0.0, square)) * 10.0 / 4095.0;
}

QString durationText(double seconds)
{
    const auto whole = static_cast<int64_t>(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(std::fmod(seconds, 60.0), 4, 'f', 1, QLatin1Char('0'));
}

QString secondsText(double scans, double rate)
{
    return rate > 0 ? QStringLiteral("%1 s").arg(scans / rate, 0, 'f', 4) : QStringLiteral("%1 扫描").arg(scans, 0, 'f', 0);
}

} // namespace

// The two digital input ports under the waveforms, on the plot's time axis:
// each value in hex where it fits, otherwise only a tick where it changes.
class DigitalStrip final : public QWidget {
public:
    explicit DigitalStrip(const ReviewPlot &plot, QWidget *parent) : QWidget(parent), plot_(plot)
    {
        setFixedHeight(2 * (fontMetrics().height() + 4) + 2);
    }
    void setRun(const RecordedRun *run) { run_ = run; update(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QRect area = plot_.plotArea();
        const int row = fontMetrics().height() + 4;
        p.fillRect(QRect(area.left(), 0, area.width(), height()), Qt::white);
        p.setPen(palette().windowText().color());
        for (int port = 0; port < 2; ++port)
            p.drawText(QRect(0, port * row, area.left() - 6, row), Qt::AlignRight | Qt::AlignVCenter,
                       QStringLiteral("DI%1").arg(port));
        if (!run_)
            return;
        const auto entries = run_->digital(static_cast<int64_t>(plot_.viewFirst()),
                                           static_cast<int64_t>(std::ceil(plot_.viewLast())) + 1);
        const auto hex = [](int16_t v) {
            return QString::number(static_cast<uint16_t>(v), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        };
        for (int port = 0; port < 2; ++port) {
            const QRect band(area.left(), port * row + 1, area.width(), row - 2);
            p.setClipRect(band);
            // A segment runs from one change to the next.
            double segmentX = -1;
            int previous = -1;
            QString segmentText;
            const auto close = [&](double endX) {
                if (segmentX < 0)
                    return;
                const QRectF r(segmentX, band.top(), endX - segmentX, band.height());
                p.setPen(QColor(90, 90, 90));
                p.drawLine(QPointF(segmentX, band.top()), QPointF(segmentX, band.bottom()));
                if (r.width() >= fontMetrics().horizontalAdvance(segmentText) + 6)
                    p.drawText(r.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, segmentText);
            };
            for (const RecordedDigital &d : entries) {
                const int value = port == 0 ? d.port0 : d.port1;
                if (value == previous)
                    continue;
                const double x = plot_.xOf(static_cast<double>(d.scan));
                close(x);
                segmentX = std::max<double>(x, area.left());
                segmentText = hex(static_cast<int16_t>(value));
                previous = value;
            }
            close(area.right() + 1);
            p.setClipping(false);
        }
    }

private:
    const ReviewPlot &plot_;
    const RecordedRun *run_ = nullptr;
};

QString ReviewWindow::windowName() { return QStringLiteral("记录回放"); }

ReviewWindow::ReviewWindow(const QString &path, std::unique_ptr<RecordingReader> reader,
                           std::unique_ptr<RecordedRun> run, QWidget *parent)
    : QWidget(parent, Qt::Window), path_(path), reader_(std::move(reader))
{
    setWindowFilePath(path);
    setWindowTitle(QStringLiteral("%1 — %2").arg(QFileInfo(path).fileName(), windowName()));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto *top = new QHBoxLayout;
    follow_ = new QCheckBox(QStringLiteral("跟随"), this);
    follow_->setToolTip(QStringLiteral("文件仍在记录时，每秒读入新的数据块"));
    auto *csv = new QPushButton(QStringLiteral("导出 CSV…"), this);
    auto *png = new QPushButton(QStringLiteral("导出 PNG…"), this);
    csv->setObjectName(QStringLiteral("cmdExportCsv"));
    png->setObjectName(QStringLiteral("cmdExportPng"));
    summaries_ = new QProgressBar(this);
    summaries_->setRange(0, 1000);
    summaries_->setFormat(QStringLiteral("生成摘要 %p%"));
    summaries_->setMaximumWidth(200);
    summaries_->hide();
    auto *keys = new QLabel(QStringLiteral("滚轮、+/− 缩放　拖动、←/→ 平移　Home 全部　Y 适配电压　"
                                           "N/P 下一个/上一个标记　单击 光标A　右击 光标B"),
                            this);
    keys->setEnabled(false);
    top->addWidget(follow_);
    top->addWidget(csv);
    top->addWidget(png);
    top->addWidget(summaries_);
    top->addStretch(1);
    top->addWidget(keys);

    runs_ = new QTreeWidget(this);
    runs_->setRootIsDecorated(false);
    runs_->setHeaderLabels({QStringLiteral("运行"), QStringLiteral("开始时间"), QStringLiteral("时长"),
                            QStringLiteral("块"), QStringLiteral("缺失"), QStringLiteral("丢弃")});
    runs_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    view_ = new QWidget(this);
    plot_ = new ReviewPlot(view_);
    strip_ = new DigitalStrip(*plot_, view_);
    auto *viewLayout = new QVBoxLayout(view_);
    viewLayout->setContentsMargins(0, 0, 0, 0);
    viewLayout->setSpacing(0);
    viewLayout->addWidget(plot_, 1);
    viewLayout->addWidget(strip_);
    readout_ = new QLabel(this);
    readout_->setTextFormat(Qt::PlainText);
    delta_ = new QLabel(this);
    stats_ = new QTableWidget(this);
    stats_->setColumnCount(4);
    stats_->setHorizontalHeaderLabels({QStringLiteral("最小 (V)"), QStringLiteral("最大 (V)"),
                                       QStringLiteral("平均 (V)"), QStringLiteral("RMS (V)")});
    stats_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stats_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    stats_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    stats_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto *right = new QWidget(this);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(view_, 1);
    rightLayout->addWidget(readout_);
    rightLayout->addWidget(delta_);
    rightLayout->addWidget(stats_);
    auto *split = new QSplitter(this);
    split->addWidget(runs_);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    split->setSizes({330, 870});

    message_ = new QLabel(this);
    message_->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(message_);
    resize(1200, 760);

    followTimer_ = new QTimer(this);
    followTimer_->setInterval(1000);
    connect(followTimer_, &QTimer::timeout, this, &ReviewWindow::refresh);
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            refresh();
            followTimer_->start();
        } else {
            followTimer_->stop();
        }
    });
    summaryTimer_ = new QTimer(this);
    summaryTimer_->setInterval(250);
    connect(summaryTimer_, &QTimer::timeout, this, &ReviewWindow::pollSummaries);

    connect(csv, &QPushButton::clicked, this, &ReviewWindow::askCsv);
    connect(png, &QPushButton::clicked, this, &ReviewWindow::askPng);
    connect(plot_, &ReviewPlot::viewChanged, strip_, qOverload<>(&QWidget::update));
    connect(plot_, &ReviewPlot::cursorsChanged, this, &ReviewWindow::updateStats);
    connect(plot_, &ReviewPlot::hovered, this, &ReviewWindow::updateHover);
    connect(runs_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (item && item->data(0, Qt::UserRole).toInt() != runNumber_)
            showRun(item->data(0, Qt::UserRole).toInt());
    });

    run_ = std::move(run);
    runNumber_ = run_ ? run_->info().number : 0;
    fillRunList();
    plot_->setRun(run_.get());
    strip_->setRun(run_.get());
    if (run_)
        plot_->setMarkers(run_->markers());
    pollSummaries();
    plot_->setFocus();
}

ReviewWindow::~ReviewWindow()
{
    // The plot and the strip point at the run.
    plot_->disconnect(this);
    plot_->setRun(nullptr);
    strip_->setRun(nullptr);
}

void ReviewWindow::fillRunList()
{
    const QSignalBlocker quiet(runs_);
    runs_->clear();
    for (const RecordedRunInfo &r : reader_->runs()) {
        auto *item = new QTreeWidgetItem(runs_);
        item->setData(0, Qt::UserRole, r.number);
        const QString duration = r.scansPerSecond > 0
                                     ? durationText(static_cast<double>(r.scans) / r.scansPerSecond)
                                     : QStringLiteral("%1 扫描").arg(r.scans);
        item->setText(0, QString::number(r.number));
        item->setText(1, QString::fromStdString(r.startTime));
        item->setText(2, r.open ? duration + QStringLiteral(" 记录中") : duration);
        item->setText(3, QString::number(r.blocks));
        item->setText(4, QString::number(r.missed));
        item->setText(5, QString::number(r.dropped));
        for (int c = 3; c < 6; ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        if (r.number == runNumber_)
            runs_->setCurrentItem(item);
    }
}

bool ReviewWindow::showRun(int number)
{
    std::string why;
    std::unique_ptr<RecordedRun> run = reader_->openRun(number, why);
    if (run && run->info().blocks == 0) {
        run.reset();
        why = "no blocks were recorded in it";
    }
    if (!run) {
        say(QStringLiteral("运行 %1 无法显示：%2").arg(number).arg(QString::fromStdString(why)), true);
        fillRunList(); // the selection goes back to the run shown
        return false;
    }
    plot_->setRun(run.get());
    strip_->setRun(run.get());
    run_ = std::move(run);
    runNumber_ = number;
    plot_->setMarkers(run_->markers());
    fillRunList();
    say({}, false);
    pollSummaries();
    return true;
}

void ReviewWindow::refresh()
{
    // Following: the view keeps its width and stays at the newest scans.
    const double width = plot_->viewLast() - plot_->viewFirst();
    const bool atEnd = run_ && plot_->viewLast() >= static_cast<double>(run_->scanCount()) - 1;
    // The reader's runs take in what it read; nothing is reopened, so an
    // older file's background summary goes on where it was.
    if (!reader_->refresh() || !run_)
        return;
    plot_->setRun(run_.get(), true);
    if (atEnd && follow_->isChecked()) {
        const auto end = static_cast<double>(run_->scanCount());
        plot_->setView(end - width, end);
    }
    plot_->setMarkers(run_->markers());
    strip_->update();
    fillRunList();
    pollSummaries();
}

std::pair<int64_t, int64_t> ReviewWindow::exportRange() const
{
    const auto a = plot_->cursor(0), b = plot_->cursor(1);
    if (a && b)
        return {std::min(*a, *b), std::max(*a, *b) + 1};
    return {static_cast<int64_t>(std::floor(plot_->viewFirst())), static_cast<int64_t>(std::ceil(plot_->viewLast()))};
}

void ReviewWindow::updateStats()
{
    const auto a = plot_->cursor(0), b = plot_->cursor(1);
    const int channels = run_ ? run_->channels() : 0;
    stats_->setRowCount(channels);
    QStringList rows;
    for (int c = 0; c < channels; ++c)
        rows << QStringLiteral("通道%1").arg(c + 1);
    stats_->setVerticalHeaderLabels(rows);
    const double rate = run_ ? run_->scansPerSecond() : 0;
    QString text;
    if (a)
        text += QStringLiteral("A %1　").arg(secondsText(static_cast<double>(*a), rate));
    if (b)
        text += QStringLiteral("B %1　").arg(secondsText(static_cast<double>(*b), rate));
    std::vector<RangeStats> stats;
    if (a && b && run_) {
        text += QStringLiteral("Δt = %1").arg(secondsText(static_cast<double>(std::abs(*b - *a)), rate));
        stats = run_->stats(std::min(*a, *b), std::max(*a, *b) + 1);
    } else {
        text += QStringLiteral("单击放置光标A，右击放置光标B");
    }
    delta_->setText(text);
    // Exactly its rows: the plot takes the rest.
    stats_->setFixedHeight(stats_->horizontalHeader()->sizeHint().height() +
                           channels * stats_->verticalHeader()->defaultSectionSize() + 2 * stats_->frameWidth());
    for (int c = 0; c < channels; ++c) {
        const RangeStats s = static_cast<std::size_t>(c) < stats.size() ? stats[static_cast<std::size_t>(c)] : RangeStats{};
        const QStringList cells = s.count == 0 ? QStringList{QString(), QString(), QString(), QString()}
                                               : QStringList{volts(s.min), volts(s.max), volts(s.mean),
                                                             QString::number(rmsVolts(s), 'f', 4)};
        for (int k = 0; k < 4; ++k) {
            auto *item = new QTableWidgetItem(cells[k]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            stats_->setItem(c, k, item);
        }
    }
}

void ReviewWindow::updateHover(int x)
{
    const std::vector<ColumnSummary> column = plot_->columnAt(x);
    if (column.empty() || !run_) {
        readout_->clear();
        return;
    }
    const double scan = plot_->scanAt(x);
    const double rate = run_->scansPerSecond();
    QString text = QStringLiteral("t = %1").arg(secondsText(scan, rate));
    if (rate > 0 && run_->info().startTimeNs > 0) {
        const auto ms = run_->info().startTimeNs / 1000000 + static_cast<int64_t>(scan / rate * 1000.0);
        text += QStringLiteral(" (%1)").arg(QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz")));
    }
    for (std::size_t c = 0; c < column.size(); ++c) {
        const ColumnSummary &s = column[c];
        text += QStringLiteral("　通道%1 ").arg(c + 1);
        text += s.count == 0 ? QStringLiteral("—")
                             : QStringLiteral("%1…%2 均值 %3 V").arg(volts(s.min), volts(s.max), volts(s.mean));
    }
    readout_->setText(text);
}

void ReviewWindow::pollSummaries()
{
    const double progress = run_ ? run_->summaryProgress() : 1.0;
    if (progress >= 1.0) {
        if (summaryTimer_->isActive() || summaries_->isVisible()) {
            summaryTimer_->stop();
            summaries_->hide();
            plot_->update();
        }
        return;
    }
    summaries_->setValue(static_cast<int>(progress * 1000));
    summaries_->show();
    plot_->update(); // what is summarised already draws finer
    if (!summaryTimer_->isActive())
        summaryTimer_->start();
}

void ReviewWindow::say(const QString &text, bool problem)
{
    message_->setText(text);
    message_->setStyleSheet(problem ? QStringLiteral("color: #b00000") : QString());
}

bool ReviewWindow::exportCsv(const QString &path)
{
    if (!run_)
        return false;
    const auto [first, last] = exportRange();
    QProgressDialog progress(QStringLiteral("导出到 %1…").arg(QFileInfo(path).fileName()), QStringLiteral("取消"), 0,
                             1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const ExportResult r =
        exportCsvFile(*run_, first, last, QFile::encodeName(path).toStdString(), [&progress](double done) {
            progress.setValue(static_cast<int>(done * 1000));
            return !progress.wasCanceled();
        });
    progress.reset();
    switch (r.outcome) {
    case ExportResult::Outcome::Written:
        say(QStringLiteral("已导出 %1 行到 %2").arg(r.rows).arg(path), false);
        return true;
    case ExportResult::Outcome::Cancelled:
        say(QStringLiteral("导出已取消，%1 未写入").arg(path), false);
        return false;
    case ExportResult::Outcome::Failed:
        break;
    }
    say(QStringLiteral("导出失败：%1").arg(QString::fromStdString(r.error)), true);
    return false;
}

bool ReviewWindow::exportPng(const QString &path)
{
    // Written whole or not at all, as the CSV.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && view_->grab().save(&file, "PNG") && file.commit()) {
        say(QStringLiteral("已导出图像到 %1").arg(path), false);
        return true;
    }
    say(QStringLiteral("导出失败：cannot write '%1': %2").arg(path, file.errorString()), true);
    return false;
}

void ReviewWindow::askCsv()
{
    const QString suggested = QFileInfo(path_).completeBaseName() + QStringLiteral("_run%1.csv").arg(runNumber_);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出 CSV"),
                                                      QFileInfo(path_).dir().filePath(suggested),
                                                      QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        exportCsv(path);
}

void ReviewWindow::askPng()
{
    const QString suggested = QFileInfo(path_).completeBaseName() + QStringLiteral("_run%1.png").arg(runNumber_);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出 PNG"),
                                                      QFileInfo(path_).dir().filePath(suggested),
                                                      QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty())
        exportPng(path);
}

} // namespace adcard
