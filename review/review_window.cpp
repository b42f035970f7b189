#include "review/review_window.h"

#include "review/own_loop.h"

#include "export/csv_export.h"
#include "plot/plot_widget.h"
#include "plot/window_text.h"
#include "review/run_choice.h"
#include "review/search_pane.h"
#include "review/spectrum_pane.h"
#include "review/view_scale_label.h"

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

namespace {

// Samples a cursor statistic may read scan by scan while the summaries are made.
constexpr double kMostRawStatsSamples = 4 << 20;

QString durationText(double seconds)
{
    // A damaged file may claim 2^60 scans at one a second: beyond 64 bits of tenths.
    if (!(std::fabs(seconds) < 1e17))
        return QStringLiteral("%1 s").arg(seconds, 0, 'g', 6);
    const auto tenths = std::llround(seconds * 10);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(tenths / 36000)
        .arg(tenths / 600 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

} // namespace

QString ReviewWindow::windowName() { return QStringLiteral("记录回放"); }

ReviewWindow::ReviewWindow(const QString &path, std::unique_ptr<RecordingReader> reader,
                           std::unique_ptr<RecordedRun> run, query::MakeTransformFn transform, QWidget *parent)
    : QWidget(parent, Qt::Window), path_(path), reader_(std::move(reader))
{
    setWindowFilePath(path);
    setWindowTitle(QStringLiteral("%1 — %2").arg(QFileInfo(path).fileName(), windowName()));
    QHBoxLayout *top = makeToolbar();
    makePlotAndFigures();
    QWidget *centre = makeCentre();
    spectrum_->setTransform(transform);
    arrange(top, centre);
    connectTimersAndViews();
    showFirst(std::move(run));
}

QHBoxLayout *ReviewWindow::makeToolbar()
{
    auto *top = new QHBoxLayout;
    follow_ = new QCheckBox(QStringLiteral("跟随"), this);
    follow_->setToolTip(QStringLiteral("文件仍在记录时，每秒读入新的数据块"));
    auto *open = new QPushButton(QStringLiteral("打开记录…"), this);
    open->setShortcut(QKeySequence::Open);
    open->setToolTip(QStringLiteral("打开记录… (Ctrl+O)"));
    // Whoever answers runs a file dialog, perhaps a message box, over this window.
    connect(open, &QPushButton::clicked, this, [this] {
        const OwnLoop loop(*this);
        emit openRecordingRequested();
    });
    auto *csv = new QPushButton(QStringLiteral("导出 CSV…"), this);
    auto *png = new QPushButton(QStringLiteral("导出 PNG…"), this);
    csv->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    csv->setToolTip(QStringLiteral("导出 CSV… (Ctrl+E)"));
    connect(csv, &QPushButton::clicked, this, &ReviewWindow::askCsv);
    connect(png, &QPushButton::clicked, this, &ReviewWindow::askPng);
    csv->setObjectName(QStringLiteral("cmdExportCsv"));
    png->setObjectName(QStringLiteral("cmdExportPng"));
    // The keys belong to the plot: a button or box clicked keeps no focus,
    // so that Space cannot press it again and Home, N or Esc still work.
    for (QWidget *w : std::initializer_list<QWidget *>{open, follow_, csv, png})
        w->setFocusPolicy(Qt::NoFocus);
    summaries_ = new QProgressBar(this);
    summaries_->setRange(0, 1000);
    summaries_->setFormat(QStringLiteral("生成摘要 %p%"));
    summaries_->setMaximumWidth(200);
    summaries_->hide();
    keys_ = new QLabel(QStringLiteral("滚轮、+/− 缩放　拖动、←/→ 平移　Home 全部　Y 适配电压　"
                                      "N/P 下一个/上一个标记　]/[ 空洞　Ctrl+拖动 框选　L 分道　T 时钟　F1 帮助"),
                       this);
    keys_->setEnabled(false);
    addHelp();
    top->addWidget(open);
    top->addWidget(follow_);
    top->addWidget(csv);
    top->addWidget(png);
    top->addWidget(summaries_);
    top->addWidget(makeMarkerList());
    addViewKeys(*top);
    legend_ = new QHBoxLayout;
    top->addLayout(legend_);
    top->addStretch(1);
    return top;
}

void ReviewWindow::addHelp()
{
    auto *help = new QAction(this);
    help->setShortcut(QKeySequence::HelpContents);
    connect(help, &QAction::triggered, this, [this] {
        const QList<KeyHelpRow> rows = {
            {QStringLiteral("N / P"), QStringLiteral("下一个 / 上一个标记（居中，缩放不变）")},
            {QStringLiteral("Ctrl+O"), QStringLiteral("打开记录…")},
            {QStringLiteral("Ctrl+E"), QStringLiteral("导出 CSV…")},
            {QStringLiteral("Ctrl+F"), QStringLiteral("搜索：电平、峰值、数字输入、缺失与标记")},
            {QStringLiteral("F"), QStringLiteral("A–B 频谱（光标之间，无光标时为视图）")},
            {QStringLiteral("] / ["), QStringLiteral("下一个 / 上一个缺失（空洞）")},
            {QStringLiteral("Ctrl+G"), QStringLiteral("转到时间：时刻、自开始的秒数（120 s）、前后的秒数（±30 s）")},
            {QStringLiteral("T"), QStringLiteral("时间轴：时钟时间 / 自开始的秒数")},
            {QStringLiteral("S"), QStringLiteral("均值 ± σ（在最小–最大之上）/ 只显示最小–最大")},
            {QStringLiteral("↑ / ↓（运行列表）"), QStringLiteral("选择运行")},
        };
        showKeyHelp(this, rows + plotKeyHelp());
    });
    addAction(help);
}

QComboBox *ReviewWindow::makeMarkerList()
{
    // Finding the way in a long run: its markers, a time, its holes; lanes
    // and the wall clock for a day's overview.
    markerList_ = new QComboBox(this);
    markerList_->setObjectName(QStringLiteral("markerList"));
    markerList_->setToolTip(QStringLiteral("标记：选择一个以居中显示 (N/P 下一个/上一个)"));
    markerList_->setFocusPolicy(Qt::NoFocus);
    markerList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    markerList_->setMinimumContentsLength(16);
    connect(markerList_, &QComboBox::activated, this, [this](int index) {
        const QVariant scan = markerList_->itemData(index);
        if (scan.isValid())
            centreOn(scan.toDouble());
    });
    return markerList_;
}

void ReviewWindow::addViewKeys(QHBoxLayout &top)
{
    const auto addKey = [this, &top](const QString &text, const QKeySequence &key, const QString &tip, bool checkable,
                                    auto &&act) {
        auto *action = new QAction(text, this);
        action->setShortcut(key);
        action->setToolTip(tip);
        action->setCheckable(checkable);
        addAction(action);
        if (checkable) {
            connect(action, &QAction::toggled, this, act);
            auto *button = new QToolButton(this);
            button->setDefaultAction(action);
            button->setFocusPolicy(Qt::NoFocus);
            top.addWidget(button);
        } else {
            connect(action, &QAction::triggered, this, act);
        }
        return action;
    };
    addKey(QStringLiteral("分道"), QKeySequence(Qt::Key_L), QStringLiteral("每个通道一道 / 叠加 (L)"), true, [this](bool on) {
        plot_->renderer().setLanes(on);
        plot_->refresh();
    });
    addKey(QStringLiteral("时钟"), QKeySequence(Qt::Key_T), QStringLiteral("时间轴：时钟时间 / 自开始的秒数 (T)"), true,
           [this](bool on) {
               plot_->renderer().setClockAxis(on);
               plot_->refresh();
           });
    // A day's overview drawn from its extremes looks like its spikes: the
    // band shows where most of each column lies.
    addKey(QStringLiteral("均值±σ"), QKeySequence(Qt::Key_S), QStringLiteral("均值 ± σ，在最小–最大之上 (S)"),
           true, [this](bool on) {
               plot_->renderer().setBand(on);
               plot_->refresh();
           });
    addKey(QStringLiteral("频谱"), QKeySequence(Qt::Key_F), QStringLiteral("A–B 频谱 (F)"), true, [this](bool on) {
        spectrum_->setVisible(on);
        if (on)
            spectrum_->start();
    });
    addKey(QStringLiteral("转到时间…"), QKeySequence(QStringLiteral("Ctrl+G")), QString(), false, [this] { askTime(); });
    addKey(QString(), QKeySequence(Qt::Key_BracketRight), QString(), false, [this] { jumpToHole(1); });
    addKey(QString(), QKeySequence(Qt::Key_BracketLeft), QString(), false, [this] { jumpToHole(-1); });
}

void ReviewWindow::makePlotAndFigures()
{
    runs_ = new QTreeWidget(this);
    runs_->setRootIsDecorated(false);
    runs_->setHeaderLabels({QStringLiteral("运行"), QStringLiteral("开始时间"), QStringLiteral("时长"),
                            QStringLiteral("块"), QStringLiteral("缺失"), QStringLiteral("丢弃")});
    runs_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    runs_->header()->setStretchLastSection(false);

    plot_ = new PlotWidget(this);
    plot_->setStatsProvider([this](int64_t first, int64_t last) {
        std::vector<RangeStats> out;
        statsPending_ = false;
        if (!run_)
            return out;
        // An older file is summarised in the background; until then what is
        // not yet summarised is read scan by scan, here on the UI thread and
        // again at each poll. Beyond some 8 MB of it the figures wait for the
        // summaries (pollSummaries asks again when they are ready).
        const double progress = run_->summaryProgress();
        const double ready = progress * static_cast<double>(run_->scanCount());
        const double raw = static_cast<double>(last) - std::max(static_cast<double>(first), ready);
        if (progress < 1.0 && raw * run_->channels() > kMostRawStatsSamples) {
            statsPending_ = true;
            return out;
        }
        return run_->stats(first, last);
    });
    // One line, cut to the window's width (the whole text in its tooltip),
    // that says how to place the cursors while the pointer is elsewhere:
    // the plot keeps its height as the pointer moves, and no empty band
    // lies under it.
    readout_ = new ElidingLabel(this);
    // Shown only while both cursors are set.
    delta_ = new QLabel(this);
    delta_->hide();
    stats_ = new QTableWidget(this);
    stats_->setColumnCount(8);
    stats_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stats_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    stats_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    stats_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QWidget *ReviewWindow::makeCentre()
{
    // Few runs in a file as a rule: the list above, as tall as its rows
    // (fillRunList), the plot across the whole width taking the rest.
    auto *split = new QWidget(this);
    auto *column = new QVBoxLayout(split);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(runs_);
    column->addWidget(plot_, 1);
    // The spectrum across the whole width too, under the waveforms it is
    // of, sharing their room half and half.
    spectrum_ = new SpectrumPane(
        [this] {
            const auto [first, end] = exportRange();
            return SpectrumRange{first, end, plot_->cursors().valid};
        },
        this);
    spectrum_->hide();
    column->addWidget(spectrum_, 1);
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    search_ = new SearchPane(
        [this](int64_t first, int64_t end) {
            // The answer with as much again on each side, a tenth of a second at least.
            const double context = std::max(static_cast<double>(end - first), run_ ? run_->scansPerSecond() / 10 : 100.0);
            plot_->renderer().setRange(static_cast<double>(first) - context, static_cast<double>(end) + context);
            showDigital();
            plot_->refresh();
        },
        this);
    search_->hide();
    new ViewScaleLabel(plot_, [this] { return static_cast<const RecordedRun *>(run_.get()); });
    auto *side = new QSplitter(Qt::Horizontal, this);
    side->addWidget(split);
    side->addWidget(search_);
    side->setStretchFactor(0, 1);
    auto *find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] { search_->setVisible(!search_->isVisible()); });
    addAction(find);
    return side;
}

void ReviewWindow::arrange(QHBoxLayout *top, QWidget *centre)
{
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(centre, 1);
    layout->addWidget(readout_);
    layout->addWidget(delta_);
    layout->addWidget(stats_);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(message_, 1);
    bottom->addWidget(keys_);
    layout->addLayout(bottom);
    // Most of a small screen, never more than it.
    const QRect room = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    resize(std::min(1200, room.width() * 9 / 10), std::min(760, room.height() * 9 / 10));
}

void ReviewWindow::connectTimersAndViews()
{
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

    connect(plot_, &PlotWidget::cursorsChanged, this, &ReviewWindow::updateStats);
    connect(plot_, &PlotWidget::hoverChanged, this, &ReviewWindow::updateHover);
    connect(plot_, &PlotWidget::viewChanged, this, &ReviewWindow::showDigital);
    connect(runs_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (item && item->data(0, Qt::UserRole).toInt() != runNumber_)
            showRun(item->data(0, Qt::UserRole).toInt());
    });
}

void ReviewWindow::showFirst(std::unique_ptr<RecordedRun> run)
{
    run_ = std::move(run);
    search_->setRun(run_.get());
    spectrum_->setRun(run_.get());
    runNumber_ = run_ ? run_->info().number : 0;
    fillRunList();
    plot_->setSource(run_.get());
    // A checkbox per channel, in its trace's colour, hides or shows it.
    for (int c = 0; run_ && c < run_->channels(); ++c) {
        const QString name = QString::fromStdString(channelName(run_->info().units, c));
        auto *box = new LegendBox(name, this);
        box->setToolTip(name);
        box->setChecked(true);
        QPalette colour = box->palette();
        colour.setColor(QPalette::WindowText, PlotRenderer::channelColor(c));
        box->setPalette(colour);
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { plot_->setChannelVisible(c, on); });
        box->setFocusPolicy(Qt::NoFocus);
        legend_->addWidget(box);
    }
    showRunDetails();
    updateStats();
    updateHover();
    pollSummaries();
    // The list and the table pass the plot's keys on: they need only the
    // arrows up and down themselves.
    runs_->installEventFilter(this);
    stats_->installEventFilter(this);
    plot_->setFocus();
    if (run_) {
        QString text = QStringLiteral("格式 %1，%2 通道，%3 扫描/秒")
                           .arg(reader_->formatVersion())
                           .arg(run_->channels())
                           .arg(run_->scansPerSecond());
        // A series' missing or skipped files are said where the eye is, not
        // only on standard error: counted on the line, each in its tooltip.
        const std::vector<std::string> notes = reader_->notes();
        QStringList all;
        for (const std::string &note : notes)
            all << QString::fromStdString(note);
        if (!all.isEmpty())
            text += QStringLiteral("；%1 条文件说明（悬停查看）").arg(all.size());
        say(text, !all.isEmpty());
        message_->setToolTip(all.join(QLatin1Char('\n')));
        // A file still being recorded is followed from the start.
        follow_->setChecked(run_->info().open);
    }
}

ReviewWindow::~ReviewWindow()
{
    // The search's and the spectrum's threads and the plot point at the run.
    search_->setRun(nullptr);
    spectrum_->setRun(nullptr);
    plot_->disconnect(this);
    plot_->setSource(nullptr);
}

bool ReviewWindow::inOwnLoop() const
{
    const auto dialogs = findChildren<QDialog *>();
    return ownLoops_ > 0 ||
           std::any_of(dialogs.begin(), dialogs.end(), [](const QDialog *d) { return d->isVisible() && d->isModal(); });
}

void ReviewWindow::closeEvent(QCloseEvent *event)
{
    if (inOwnLoop()) {
        // Told to close (the panel ending) from inside a loop of ours: end the
        // loop, and go only once it has returned. Deleting now would delete
        // the dialog, or the export's progress, still running beneath.
        closing_ = true;
        if (testAttribute(Qt::WA_DeleteOnClose)) {
            setAttribute(Qt::WA_DeleteOnClose, false);
            deleteLater_ = ownLoops_ > 0; // else whoever closed it deletes it
        }
        followTimer_->stop();
        summaryTimer_->stop();
        for (QDialog *dialog : findChildren<QDialog *>())
            if (dialog->isVisible())
                dialog->reject();
    }
    QWidget::closeEvent(event);
}

bool ReviewWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || (watched != runs_ && watched != stats_))
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    static constexpr int kPlotKeys[] = {Qt::Key_Plus,   Qt::Key_Equal, Qt::Key_Minus, Qt::Key_Left, Qt::Key_Right,
                                        Qt::Key_Home,   Qt::Key_Y,     Qt::Key_A,     Qt::Key_B,    Qt::Key_Escape,
                                        Qt::Key_N,      Qt::Key_P};
    if (std::find(std::begin(kPlotKeys), std::end(kPlotKeys), key) == std::end(kPlotKeys))
        return false;
    const auto *e = static_cast<QKeyEvent *>(event);
    QKeyEvent copy(QEvent::KeyPress, key, e->modifiers(), e->text(), e->isAutoRepeat());
    QCoreApplication::sendEvent(plot_, &copy);
    return true;
}

void ReviewWindow::keyPressEvent(QKeyEvent *event)
{
    // The plot passes on the keys it does not use.
    if (event->key() == Qt::Key_N || event->key() == Qt::Key_P)
        jumpToMarker(event->key() == Qt::Key_N ? 1 : -1);
    else
        QWidget::keyPressEvent(event);
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
        item->setText(1, QString::fromStdString(runStartText(r)));
        item->setText(2, r.open ? duration + QStringLiteral(" 记录中") : duration);
        item->setText(3, QString::number(r.blocks));
        item->setText(4, QString::number(r.missed));
        item->setText(5, QString::number(r.dropped));
        for (int c = 3; c < 6; ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        if (r.number == runNumber_)
            runs_->setCurrentItem(item);
    }
    // As tall as its rows, up to a few: the plot takes the rest.
    const int rows = std::clamp(runs_->topLevelItemCount(), 1, kRunRowsShown);
    const int row = runs_->topLevelItemCount() > 0 ? runs_->sizeHintForRow(0) : fontMetrics().height() + 6;
    runs_->setFixedHeight(runs_->header()->sizeHint().height() + rows * row + 2 * runs_->frameWidth());
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
    plot_->setSource(run.get());
    plot_->renderer().setCursors(std::nullopt, std::nullopt); // they were another run's
    search_->setRun(nullptr);
    spectrum_->setRun(nullptr);
    run_ = std::move(run);
    search_->setRun(run_.get());
    spectrum_->setRun(run_.get());
    runNumber_ = number;
    showRunDetails();
    fillRunList();
    say({}, false);
    pollSummaries();
    return true;
}

void ReviewWindow::refresh()
{
    // Following: the view keeps its width and stays at the newest scans.
    const PlotRenderer &r = plot_->renderer();
    const double width = r.last() - r.first();
    const bool atEnd = run_ && r.last() >= static_cast<double>(run_->scanCount()) - 1;
    // The reader's runs take in what it read; nothing is reopened, so an
    // older file's background summary goes on where it was.
    if (!reader_->refresh() || !run_)
        return;
    plot_->renderer().swapSource(run_.get());
    if (atEnd && follow_->isChecked()) {
        const auto end = static_cast<double>(run_->scanCount());
        plot_->renderer().setRange(end - width, end);
    }
    showRunDetails();
    fillRunList();
    pollSummaries();
    search_->runGrew();
}

void ReviewWindow::pollSummaries()
{
    const double progress = run_ ? run_->summaryProgress() : 1.0;
    if (progress >= 1.0) {
        if (summaryTimer_->isActive() || summaries_->isVisible()) {
            summaryTimer_->stop();
            summaries_->hide();
            plot_->refresh();
        }
        return;
    }
    summaries_->setValue(static_cast<int>(progress * 1000));
    summaries_->show();
    plot_->refresh(); // what is summarised already draws finer
    if (!summaryTimer_->isActive())
        summaryTimer_->start();
}

void ReviewWindow::say(const QString &text, bool problem)
{
    message_->setText(text);
    message_->setStyleSheet(problem ? QStringLiteral("color: #b00000") : QString());
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_review_window.cpp"
