#include "history/history_window.h"

#include "acquisition/formatting.h"
#include "acquisition/readout.h"

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>


namespace adcard {

namespace {

QString qstr(const std::string &s) { return QString::fromStdString(s); }

QString firstLine(const std::string &text)
{
    const QString all = qstr(text);
    return all.section(QLatin1Char('\n'), 0, 0);
}

class PlotView final : public QWidget {
public:
    PlotView(HistoryPlot &plot, HistoryWindow &window) : plot_(plot), window_(window)
    {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent); // render() fills every pixel
        setMinimumSize(240, 120);
    }
    bool cursorShown() const { return cursorX_ >= 0; }
    void setCursorX(int x)
    {
        if (x != cursorX_) {
            cursorX_ = x;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent *e) override
    {
        QPainter p(this);
        plot_.render(p, rect(), e->rect());
        if (cursorX_ >= 0) {
            p.setPen(QPen(QColor(0, 0, 0, 96), 1, Qt::DashLine));
            const QRect r = plot_.plotRect(rect());
            p.drawLine(cursorX_, r.top(), cursorX_, r.bottom());
        }
    }
    void mouseMoveEvent(QMouseEvent *e) override { window_.hoverAt(e->position().toPoint().x()); }
    void leaveEvent(QEvent *) override { window_.hoverAt(-1); }

private:
    HistoryPlot &plot_;
    HistoryWindow &window_;
    int cursorX_ = -1;
};

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
    case DriverStatus::Kind::NotOpened:
        break;
    }
    return QStringLiteral("驱动库尚未打开");
}

HistoryWindow::HistoryWindow(const DllDef &dll, HistorySources sources, QWidget *parent)
    : QWidget(parent), plot_(dll), sources_(std::move(sources))
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

    auto *top = new QHBoxLayout;
    for (int c = 0; c < kPlotChannels; ++c) {
        auto *box = new QCheckBox(QStringLiteral("通道%1").arg(c + 1), this);
        box->setChecked(true);
        box->setIcon(swatch(HistoryPlot::channelColor(c)));
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { plot_.setChannelVisible(c, on); });
        legend_[static_cast<std::size_t>(c)] = box;
        top->addWidget(box);
    }
    hover_ = new QLabel(this);
    hover_->setTextFormat(Qt::PlainText);
    top->addWidget(hover_, 1);
    toolbar_ = new QHBoxLayout;
    toolbar_->setContentsMargins(0, 0, 0, 0);
    top->addLayout(toolbar_);

    plotView_ = new PlotView(plot_, *this);
    plotView_->setAccessibleName(QStringLiteral("历史波形图"));

    auto *bottom = new QHBoxLayout;
    // The part that changes every tick is kept short: laying out text in a
    // CJK font is most of what a status line costs.
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setAccessibleName(QStringLiteral("状态"));
    // Sized once for its longest text, so that a new count relays out
    // nothing.
    status_->setFixedSize(status_->fontMetrics().horizontalAdvance(QStringLiteral("已停止  接收数据块数:-32768")) + 8,
                          status_->fontMetrics().height());
    driver_ = new QLabel(this);
    driver_->setTextFormat(Qt::PlainText);
    driver_->setAccessibleName(QStringLiteral("驱动库"));
    extraStatus_ = new QLabel(this);
    extraStatus_->setTextFormat(Qt::PlainText);
    bottom->addWidget(status_);
    bottom->addWidget(driver_, 1);
    bottom->addWidget(extraStatus_);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->addLayout(top);
    layout->addWidget(plotView_, 1);
    layout->addLayout(bottom);

    plot_.setChangedCallback([this](int shift) {
        // Both only queue a paint: the tick goes on at once.
        auto *view = static_cast<PlotView *>(plotView_);
        if (!isVisible())
            return;
        if (shift > 0 && !view->cursorShown())
            view->scroll(-shift, 0, plot_.plotRect(view->rect())); // repaints only the new strip
        else
            view->update();
    });
    plot_.catchUp();
    resize(800, 420);
    refreshStatus();
    refreshDriver();
    updateDescription();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::setExtraStatus(const QString &text) { extraStatus_->setText(text); }

void HistoryWindow::refreshStatus()
{
    const bool acquiring = sources_.panelTimer && sources_.panelTimer->isActive();
    QString text = acquiring ? QStringLiteral("采集中") : QStringLiteral("已停止");
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
        text += qstr(voltsText(codeToVolts((*means)[static_cast<std::size_t>(c)]), sources_.decimalSeparator));
        text += QStringLiteral(" V");
    }
    plotView_->setAccessibleDescription(text);
}

void HistoryWindow::hoverAt(int x)
{
    hoverX_ = x;
    const QRect r = plot_.plotRect(plotView_->rect());
    const int columns = std::min(r.width(), kMaxPlotColumns);
    std::optional<std::array<int16_t, kPlotChannels>> values;
    if (x >= r.left() && x <= r.right() && columns > 0)
        values = plot_.samplesAtColumn(static_cast<int>(int64_t{x - r.left()} * columns / r.width()), columns);
    static_cast<PlotView *>(plotView_)->setCursorX(values ? x : -1);
    if (!values) {
        hover_->clear();
        return;
    }
    QString text;
    for (int c = 0; c < kPlotChannels; ++c)
        text += QStringLiteral("%1通道%2 %3 V")
                    .arg(c ? QStringLiteral("  ") : QString())
                    .arg(c + 1)
                    .arg(qstr(voltsText(codeToVolts((*values)[static_cast<std::size_t>(c)]),
                                        sources_.decimalSeparator)));
    hover_->setText(text);
}

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
        hoverAt(hoverX_);
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
    if (tick.stored > 0) {
        updateDescription();
        if (hoverX_ >= 0)
            hoverAt(hoverX_);
    }
}

void HistoryWindow::acquisitionStopped(StopReason)
{
    if (isVisible()) {
        refreshStatus();
        refreshDriver();
    }
}

} // namespace adcard
