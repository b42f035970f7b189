#include "history/history_window.h"

#include "acquisition/formatting.h"
#include "acquisition/readout.h"
#include "plot/window_text.h"

#include "history/rule_banner.h"

#include <QAction>
#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>


namespace adcard {

namespace {

QString qstr(const std::string &s) { return QString::fromStdString(s); }

QString firstLine(const std::string &text)
{
    const QString all = qstr(text);
    return all.section(QLatin1Char('\n'), 0, 0);
}

QIcon swatch(const QColor &color)
{
    QPixmap pm(12, 12);
    pm.fill(color);
    return QIcon(pm);
}

} // namespace

QString driverStatusText(const DriverStatus &status)
{
    switch (status.kind) {
    case DriverStatus::Kind::Loaded:
        if (isSimulatedCard(status.path))
            return QStringLiteral("驱动库: 模拟卡 ") + qstr(status.path);
        return QStringLiteral("驱动库: ") + qstr(status.path);
    case DriverStatus::Kind::Missing:
        return QStringLiteral("未找到驱动库: ") + firstLine(status.failures);
    case DriverStatus::Kind::HostLost: // its line is the latest
        return QStringLiteral("驱动宿主不可用，不再调用驱动: ") +
               qstr(status.failures).trimmed().section(QLatin1Char('\n'), -1);
    case DriverStatus::Kind::NotOpened:
        break;
    }
    return QStringLiteral("驱动库尚未打开");
}

HistoryWindow::HistoryWindow(const LiveRingFeed &feed, HistorySources sources, QWidget *parent)
    : QWidget(parent), plot_(&feed), sources_(std::move(sources))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("历史波形"));
    // A second window: it must neither keep the program alive nor take the
    // keyboard from the panel when it opens.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    // Nothing here is typed, and the window's Han and ASCII texts need no
    // OpenType shaping: each glyph is the character's own at its own
    // advance. Shaping the status line, hover values and axis labels anew on
    // every repaint was a good part of what the window cost each tick.
    QFont unshaped = font();
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    setFont(unshaped);

    QHBoxLayout *top = makeToolbar();
    makePlotView();
    arrange(top);
    plot_.setChangedCallback([this](int shift) {
        // Only queues a paint, moving the picture where it can: the tick
        // goes on at once.
        if (isVisible())
            plotView_->showChange(shift);
    });
    plot_.catchUp();
    resize(800, 420);
    refreshStatus();
    refreshDriver();
    updateDescription();
}

QHBoxLayout *HistoryWindow::makeToolbar()
{
    auto *top = new QHBoxLayout;
    // Tight: the toolbar sets the window's least width, which must leave room
    // for the panel beside it on a 1366 px screen.
    top->setSpacing(0);
    for (int c = 0; c < kPlotChannels; ++c) {
        auto *box = new LegendBox(QStringLiteral("通道%1").arg(c + 1), this);
        box->setChecked(true);
        box->setIcon(swatch(HistoryPlot::channelColor(c)));
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { plot_.setChannelVisible(c, on); });
        legend_[static_cast<std::size_t>(c)] = box;
        top->addWidget(box);
    }
    addToolActions(*top);
    toolbar_ = new QHBoxLayout;
    toolbar_->setContentsMargins(0, 0, 0, 0);
    toolbar_->setSpacing(2);
    top->addLayout(toolbar_);
    top->addStretch(1);
    addHelp();
    return top;
}

void HistoryWindow::addToolActions(QHBoxLayout &top)
{
    // Holding the picture and opening a recording: buttons with their keys,
    // which work wherever the focus is in this window.
    pause_ = new QAction(QStringLiteral("暂停"), this);
    pause_->setCheckable(true);
    pause_->setShortcut(QKeySequence(Qt::Key_Space));
    pause_->setToolTip(QStringLiteral("暂停 (空格): 保持画面, 采集继续"));
    connect(pause_, &QAction::toggled, this, [this](bool on) {
        plot_.setPaused(on);
        // The cursors were on the held picture: in the moving one they would
        // only say that nothing is there.
        if (!on) {
            plotView_->setCursorA(std::nullopt);
            plotView_->setCursorB(std::nullopt);
        }
        refreshStatus();
    });
    openRecording_ = new QAction(QStringLiteral("打开记录…"), this);
    openRecording_->setShortcut(QKeySequence::Open);
    openRecording_->setToolTip(QStringLiteral("打开记录… (Ctrl+O)"));
    connect(openRecording_, &QAction::triggered, this, &HistoryWindow::openRecordingRequested);
    // The overview's two choices, as in the review: lanes, and the axis's unit.
    auto *lanes = new QAction(QStringLiteral("分道"), this);
    lanes->setCheckable(true);
    lanes->setShortcut(QKeySequence(Qt::Key_L));
    lanes->setToolTip(QStringLiteral("每个通道一道 / 叠加 (L)"));
    connect(lanes, &QAction::toggled, this, [this](bool on) {
        plot_.renderer().setLanes(on);
        plotView_->refresh();
    });
    auto *seconds = new QAction(QStringLiteral("秒"), this);
    seconds->setCheckable(true);
    seconds->setShortcut(QKeySequence(Qt::Key_T));
    seconds->setToolTip(QStringLiteral("时间轴：秒 / 块 (T)"));
    connect(seconds, &QAction::toggled, this, [this, seconds](bool on) {
        if (!plot_.setAxisInSeconds(on)) {
            const QSignalBlocker quiet(seconds);
            seconds->setChecked(false);
            showMessage(QStringLiteral("尚不知道扫描速率：开始采集后才能以秒显示"), true);
        }
        plotView_->refresh();
    });
    addLegendMenu();
    auto *rules = new QAction(QStringLiteral("规则…"), this);
    rules->setShortcut(QKeySequence(Qt::Key_R));
    rules->setToolTip(QStringLiteral("规则… (R)：条件与动作"));
    connect(rules, &QAction::triggered, this, &HistoryWindow::rulesRequested);
    // Acknowledging works wherever the focus is, as the banner's button does.
    auto *acknowledge = new QAction(QStringLiteral("确认报警"), this);
    acknowledge->setShortcut(QKeySequence(Qt::Key_K));
    connect(acknowledge, &QAction::triggered, this, [this] { emit ruleBanner_->acknowledged(); });
    addAction(acknowledge);
    for (QAction *action : {pause_, openRecording_, lanes, seconds, rules}) {
        addAction(action);
        auto *button = new QToolButton(this);
        button->setDefaultAction(action);
        button->setFocusPolicy(Qt::NoFocus);
        top.addWidget(button);
    }
}

namespace {

QString legendHint() { return QStringLiteral("右键或 U：通道名称与单位…"); }

} // namespace

void HistoryWindow::addLegendMenu()
{
    // On each channel's legend (right button) and a key: the toolbar has no
    // room left at the window's first width.
    auto *units = new QAction(QStringLiteral("通道名称与单位…"), this);
    units->setShortcut(QKeySequence(Qt::Key_U));
    connect(units, &QAction::triggered, this, &HistoryWindow::channelUnitsRequested);
    addAction(units);
    // No mean +- sd band here, as the review has: its per-column means and
    // deviations would take the plot's memory beyond the ring from under
    // 64 KiB to 160 KB.
    for (QCheckBox *box : legend_) {
        box->setContextMenuPolicy(Qt::ActionsContextMenu);
        box->addAction(units);
        box->setToolTip(legendHint());
    }
}

void HistoryWindow::addHelp()
{
    auto *help = new QAction(this);
    help->setShortcut(QKeySequence::HelpContents);
    connect(help, &QAction::triggered, this, [this] {
        QList<KeyHelpRow> rows = {
            {QStringLiteral("空格"), QStringLiteral("暂停 / 继续画面（采集不停）")},
            {QStringLiteral("M"), QStringLiteral("标记（按键时刻的数据块），之后填写说明")},
            {QStringLiteral("Ctrl+O"), QStringLiteral("打开记录…")},
            {QStringLiteral("T"), QStringLiteral("时间轴：秒 / 块")},
            {QStringLiteral("U"), QStringLiteral("通道名称与单位…（也可右键单击通道）")},
            {QStringLiteral("R"), QStringLiteral("规则…")},
            {QStringLiteral("K"), QStringLiteral("确认报警，释放锁存的输出位")},
        };
        showKeyHelp(this, rows + plotKeyHelp());
    });
    addAction(help);
}

void HistoryWindow::makePlotView()
{
    plotView_ = new PlotWidget(plot_.renderer(), this);
    plotView_->setAccessibleName(QStringLiteral("历史波形图"));
    plotView_->setStatsProvider([this](int64_t first, int64_t last) { return plot_.stats(first, last); });
    plotView_->setVoltsFormat(
        [this](double volts) { return qstr(readoutVoltsText(static_cast<float>(volts), sources_.decimalSeparator)); });
    // The readouts have rows of their own, cut to the window's width: they
    // change with the pointer and must never widen the window.
    auto *hover = new ElidingLabel(this);
    hover_ = hover;
    connect(plotView_, &PlotWidget::hoverChanged, this, [this, hover] { hover->setFullText(plotView_->hoverText()); });
    // Shown only while both cursors are set, so that the plot keeps its
    // height otherwise.
    auto *cursorText = new ElidingLabel(this);
    cursorText_ = cursorText;
    cursorText_->hide();
    connect(plotView_, &PlotWidget::cursorsChanged, this, [this, cursorText] {
        const QString text = plotView_->cursorText();
        cursorText->setFullText(text);
        cursorText->setVisible(!text.isEmpty());
    });
}

void HistoryWindow::arrange(QHBoxLayout *top)
{
    auto *bottom = new QHBoxLayout;
    // The part that changes every tick is kept short: laying out text in a
    // CJK font is most of what a status line costs.
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setAccessibleName(QStringLiteral("状态"));
    // Sized once for its longest text, so that a new count relays out
    // nothing.
    status_->setFixedSize(
        status_->fontMetrics().horizontalAdvance(QStringLiteral("采集中，画面暂停  接收数据块数:-32768")) + 8,
        status_->fontMetrics().height());
    driver_ = new ElidingLabel(this, Qt::ElideMiddle);
    driver_->setAccessibleName(QStringLiteral("驱动库"));
    extraStatus_ = new ElidingLabel(this, Qt::ElideMiddle);
    message_ = new ElidingLabel(this);
    message_->setAccessibleName(QStringLiteral("消息"));
    auto *keys = new ElidingLabel(this);
    keys->setText(QStringLiteral("滚轮、+/− 缩放　拖动、←/→ 平移　Ctrl+拖动 框选　Home 全部　Y 适配电压　单击 光标A　"
                                 "右击 光标B　Esc 清除光标　L 分道　T 秒/块　空格 暂停　M 标记　F1 帮助"));
    keys->setEnabled(false);
    auto *notes = new QHBoxLayout;
    notes->addWidget(message_, 1);
    notes->addWidget(keys, 1);

    bottom->addWidget(status_);
    bottom->addWidget(driver_, 1);
    bottom->addWidget(extraStatus_);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->addLayout(top);
    ruleBanner_ = new RuleBanner(this);
    layout->addWidget(ruleBanner_);
    layout->addWidget(plotView_, 1);
    layout->addWidget(hover_);
    layout->addWidget(cursorText_);
    layout->addLayout(bottom);
    layout->addLayout(notes);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::setExtraStatus(const QString &text) { static_cast<ElidingLabel *>(extraStatus_)->setFullText(text); }

void HistoryWindow::showMessage(const QString &text, bool problem)
{
    static_cast<ElidingLabel *>(message_)->setFullText(text);
    message_->setStyleSheet(problem ? QStringLiteral("color: #b00000") : QString());
}

void HistoryWindow::ruleEvent(const RuleEvent &e)
{
    // The rule's marker, where the scan that fired it is drawn.
    if (!e.fired || !e.mark)
        return;
    QString text = QString::fromUtf8(e.rule.data(), qsizetype(e.rule.size())) + QLatin1Char(' ') +
                   QString::number(e.value, 'f', e.decimals);
    if (!e.unit.empty())
        text += QLatin1Char(' ') + QString::fromUtf8(e.unit.data(), qsizetype(e.unit.size()));
    plot_.addMarker(plot_.historyGeneration(), e.scan, text);
}

std::function<void(const QString &)> HistoryWindow::stampMarker()
{
    const int64_t generation = plot_.historyGeneration();
    const int64_t scan = plot_.newestScan();
    return [window = QPointer<HistoryWindow>(this), generation, scan](const QString &text) {
        if (window)
            window->plot_.addMarker(generation, scan, text);
    };
}

void HistoryWindow::refreshStatus()
{
    const bool acquiring = sources_.panelTimer && sources_.panelTimer->isActive();
    QString text = acquiring ? QStringLiteral("采集中") : QStringLiteral("已停止");
    if (plot_.paused())
        text += QStringLiteral("，画面暂停");
    if (sources_.blockCount)
        text += QStringLiteral("  接收数据块数:") + qstr(counterText(sources_.blockCount()));
    if (text != status_->text())
        status_->setText(text);
}

void HistoryWindow::refreshDriver()
{
    if (!sources_.driver)
        return;
    const DriverStatus driver = sources_.driver();
    const QString text = driverStatusText(driver);
    if (text != driver_->text()) {
        driver_->setText(text);
        driver_->setToolTip(qstr(driver.failures).trimmed());
    }
}

void HistoryWindow::setChannelUnits(const ChannelUnits &units)
{
    for (int c = 0; c < kPlotChannels; ++c) {
        const QString full = QString::fromStdString(channelLabel(units, c));
        // Cut only where the window's width needs it: four long names must
        // not widen the window.
        auto *box = static_cast<LegendBox *>(legend_[static_cast<std::size_t>(c)]);
        box->setFullText(full);
        box->setToolTip(full + QStringLiteral("\n") + legendHint());
    }
    plot_.setChannelUnits(units);
    plotView_->refresh();
}

void HistoryWindow::updateDescription()
{
    const auto means = plot_.newestMeans();
    if (!means) {
        plotView_->setAccessibleDescription(QStringLiteral("没有数据块"));
        return;
    }
    // Built by appending: it is rebuilt on every tick that stores a block.
    static_assert(kPlotChannels <= 9, "channel numbers are one digit");
    QString text = QStringLiteral("最新数据块均值:");
    text.reserve(96);
    for (int c = 0; c < kPlotChannels; ++c) {
        text += QStringLiteral(" 通道");
        text += QChar(u'1' + c);
        text += QLatin1Char(' ');
        text += qstr(readoutVoltsText(codeToVolts((*means)[static_cast<std::size_t>(c)]), sources_.decimalSeparator));
        text += QStringLiteral(" V");
    }
    plotView_->setAccessibleDescription(text);
}

void HistoryWindow::hoverAt(int x) { plotView_->hoverAt(x); }

void HistoryWindow::showEvent(QShowEvent *event)
{
    // Hidden, the window lets the status line and description lag.
    refreshStatus();
    refreshDriver();
    updateDescription();
    QWidget::showEvent(event);
}

void HistoryWindow::historyStarted(const AcqSettings &settings)
{
    plot_.historyStarted(settings);
    if (isVisible()) {
        refreshStatus();
        refreshDriver();
        updateDescription();
    }
}

void HistoryWindow::acquisitionStarted(const AcqSettings &)
{
    if (isVisible()) {
        refreshStatus();
        refreshDriver();
    }
}

void HistoryWindow::blockStored(const StoredBlock &block) { plot_.blockStored(block); }

void HistoryWindow::tickEnded(const TickSummary &tick)
{
    plot_.tickEnded(tick);
    if (!isVisible())
        return;
    refreshStatus();
    if (tick.stored > 0)
        updateDescription();
}

void HistoryWindow::acquisitionStopped(StopReason)
{
    if (isVisible()) {
        refreshStatus();
        refreshDriver();
    }
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_history_window.cpp"
