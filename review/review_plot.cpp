#include "review/review_plot.h"

#include "history/history_plot.h"
#include "review/csv_export.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

constexpr int kLeft = 52, kRight = 10, kTop = 16, kBottom = 22;
// Never closer than a few scans across the whole width: single samples
// still show as steps.
constexpr double kFewestScans = 8;

// 1, 2 or 5 times a power of ten, so that about `ticks` fit in `span`.
double tickStep(double span, int ticks)
{
    const double raw = span / std::max(1, ticks);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

QString tickText(double value, double step)
{
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 9);
    return QString::number(value, 'f', decimals);
}

} // namespace

ReviewPlot::ReviewPlot(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ReviewPlot::setRun(const RecordedRun *run, bool keepView)
{
    run_ = run;
    columns_.clear();
    columnCount_ = 0;
    if (!keepView) {
        cursors_ = {};
        markers_.clear();
        voltsLow_ = -5.5;
        voltsHigh_ = 5.5;
        showAll();
    } else {
        setView(first_, last_);
    }
    emit cursorsChanged();
}

void ReviewPlot::setMarkers(std::vector<RecordedMarker> markers)
{
    markers_ = std::move(markers);
    std::sort(markers_.begin(), markers_.end(), [](const auto &a, const auto &b) { return a.scan < b.scan; });
    update();
}

void ReviewPlot::setView(double first, double last)
{
    const double total = run_ ? std::max<double>(static_cast<double>(run_->scanCount()), 1) : 1;
    double width = std::clamp(last - first, std::min(kFewestScans, total), total);
    first = std::clamp(first, 0.0, total - width);
    first_ = first;
    last_ = first + width;
    update();
    emit viewChanged();
}

void ReviewPlot::zoom(double factor, double anchor)
{
    const double share = (anchor - first_) / (last_ - first_);
    const double width = (last_ - first_) * factor;
    setView(anchor - share * width, anchor - share * width + width);
}

void ReviewPlot::pan(double widths)
{
    const double by = (last_ - first_) * widths;
    setView(first_ + by, last_ + by);
}

void ReviewPlot::showAll() { setView(0, run_ ? static_cast<double>(run_->scanCount()) : 1); }

void ReviewPlot::fitVolts()
{
    double low = INFINITY, high = -INFINITY;
    for (const ColumnSummary &c : columns_) {
        if (c.count == 0)
            continue;
        low = std::min(low, codeToVolts(c.min));
        high = std::max(high, codeToVolts(c.max));
    }
    if (!(low <= high))
        return;
    const double margin = std::max((high - low) * 0.05, 0.01);
    voltsLow_ = low - margin;
    voltsHigh_ = high + margin;
    update();
}

void ReviewPlot::setCursor(int which, int64_t scan)
{
    const int64_t last = run_ ? std::max<int64_t>(run_->scanCount() - 1, 0) : 0;
    cursors_[static_cast<std::size_t>(which)] = std::clamp<int64_t>(scan, 0, last);
    update();
    emit cursorsChanged();
}

bool ReviewPlot::jumpToMarker(int direction)
{
    // From the view's centre, so that repeated presses walk the markers.
    const double centre = (first_ + last_) / 2;
    const RecordedMarker *target = nullptr;
    for (const RecordedMarker &m : markers_) {
        const double at = static_cast<double>(m.scan);
        if (direction > 0 && at > centre + 0.5) {
            target = &m;
            break;
        }
        if (direction < 0 && at < centre - 0.5)
            target = &m;
    }
    if (!target)
        return false;
    const double half = (last_ - first_) / 2;
    setView(static_cast<double>(target->scan) - half, static_cast<double>(target->scan) + half);
    return true;
}

QRect ReviewPlot::plotArea() const
{
    return QRect(kLeft, kTop, std::max(1, width() - kLeft - kRight), std::max(1, height() - kTop - kBottom));
}

double ReviewPlot::scanAt(double x) const
{
    const QRect a = plotArea();
    return first_ + (x - a.left()) * (last_ - first_) / a.width();
}

double ReviewPlot::xOf(double scan) const
{
    const QRect a = plotArea();
    return a.left() + (scan - first_) * a.width() / (last_ - first_);
}

double ReviewPlot::yOf(double volts) const
{
    const QRect a = plotArea();
    return a.bottom() - (volts - voltsLow_) * (a.height() - 1) / (voltsHigh_ - voltsLow_);
}

std::vector<ColumnSummary> ReviewPlot::columnAt(int x) const
{
    const int column = x - plotArea().left();
    if (!run_ || column < 0 || column >= columnCount_)
        return {};
    const auto channels = static_cast<std::size_t>(run_->channels());
    const auto at = columns_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(column) * channels);
    return {at, at + static_cast<std::ptrdiff_t>(channels)};
}

void ReviewPlot::summariseView(int columns)
{
    columnCount_ = columns;
    columns_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(run_->channels()), {});
    run_->summarise(first_, last_, columns, columns_);
}

void ReviewPlot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect area = plotArea();
    p.fillRect(area, Qt::white);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    if (!run_)
        return;
    summariseView(area.width());

    // Grid and axes: seconds from the run's start (scans without a rate),
    // volts on the left.
    const QFontMetrics fm = fontMetrics();
    const double rate = run_->scansPerSecond();
    const double unit = rate > 0 ? rate : 1.0;
    const double tStep = tickStep((last_ - first_) / unit, std::max(2, area.width() / 110));
    p.setPen(QColor(225, 225, 225));
    for (double t = std::ceil(first_ / unit / tStep) * tStep; t * unit <= last_; t += tStep) {
        const int x = static_cast<int>(std::lround(xOf(t * unit)));
        p.setPen(QColor(225, 225, 225));
        p.drawLine(x, area.top(), x, area.bottom());
        p.setPen(palette().windowText().color());
        const QString text = tickText(t, tStep) + (rate > 0 ? QStringLiteral(" s") : QString());
        p.drawText(QRect(x - 60, area.bottom() + 3, 120, fm.height()), Qt::AlignHCenter | Qt::AlignTop, text);
    }
    const double vStep = tickStep(voltsHigh_ - voltsLow_, std::max(2, area.height() / 40));
    for (double v = std::ceil(voltsLow_ / vStep) * vStep; v <= voltsHigh_; v += vStep) {
        const int y = static_cast<int>(std::lround(yOf(v)));
        p.setPen(QColor(225, 225, 225));
        p.drawLine(area.left(), y, area.right(), y);
        p.setPen(palette().windowText().color());
        p.drawText(QRect(0, y - fm.height() / 2, kLeft - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   tickText(std::abs(v) < vStep / 2 ? 0.0 : v, vStep) + QStringLiteral(" V"));
    }

    // Traces: a bar from min to max in each column, joined through the means
    // of neighbouring columns; a column with nothing recorded breaks it.
    p.setClipRect(area);
    const int channels = run_->channels();
    for (int c = 0; c < channels; ++c) {
        p.setPen(HistoryPlot::channelColor(c % 4));
        double previousMean = NAN;
        for (int col = 0; col < columnCount_; ++col) {
            const ColumnSummary &s = columns_[static_cast<std::size_t>(col * channels + c)];
            const double x = area.left() + col + 0.5;
            if (s.count == 0) {
                previousMean = NAN;
                continue;
            }
            const double mean = yOf(codeToVolts(s.mean));
            if (!std::isnan(previousMean))
                p.drawLine(QPointF(x - 1, previousMean), QPointF(x, mean));
            p.drawLine(QPointF(x, yOf(codeToVolts(s.max))), QPointF(x, yOf(codeToVolts(s.min))));
            previousMean = mean;
        }
    }
    p.setClipping(false);

    // Markers: a dashed line and the text above the plot.
    p.setPen(QPen(QColor(120, 60, 160), 1, Qt::DashLine));
    for (const RecordedMarker &m : markers_) {
        const double x = xOf(static_cast<double>(m.scan));
        if (x < area.left() || x > area.right())
            continue;
        p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        const QString text = m.text.empty() ? QStringLiteral("▼") : QString::fromStdString(m.text);
        p.drawText(QRectF(x + 2, 0, 160, kTop), Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(text, Qt::ElideRight, 160));
    }
    // Cursors A and B.
    const QColor cursorColors[] = {QColor(200, 0, 0), QColor(0, 90, 200)};
    for (int i = 0; i < 2; ++i) {
        if (!cursors_[static_cast<std::size_t>(i)])
            continue;
        const double x = xOf(static_cast<double>(*cursors_[static_cast<std::size_t>(i)]) + 0.5);
        if (x < area.left() || x > area.right())
            continue;
        p.setPen(QPen(cursorColors[i], 1));
        p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        p.drawText(QPointF(x + 3, area.top() + fm.ascent() + 1), i == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    }
}

void ReviewPlot::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0)
        zoom(std::pow(0.8, steps), scanAt(event->position().x()));
    event->accept();
}

void ReviewPlot::mousePressEvent(QMouseEvent *event)
{
    pressAt_ = event->position().toPoint();
    pressFirst_ = first_;
    pressLast_ = last_;
    dragged_ = false;
}

void ReviewPlot::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (event->buttons() & Qt::LeftButton) {
        dragged_ = dragged_ || (at - pressAt_).manhattanLength() >= 4;
        if (dragged_) {
            const double by = (pressAt_.x() - at.x()) * (pressLast_ - pressFirst_) / plotArea().width();
            setView(pressFirst_ + by, pressLast_ + by);
        }
    }
    emit hovered(at.x());
}

void ReviewPlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (dragged_ || !run_ || !plotArea().contains(event->position().toPoint()))
        return;
    const bool second = event->button() == Qt::RightButton || (event->modifiers() & Qt::ShiftModifier);
    setCursor(second ? 1 : 0, static_cast<int64_t>(std::floor(scanAt(event->position().x()))));
}

void ReviewPlot::leaveEvent(QEvent *) { emit hovered(-1); }

void ReviewPlot::keyPressEvent(QKeyEvent *event)
{
    const double centre = (first_ + last_) / 2;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(0.5, centre);
        break;
    case Qt::Key_Minus:
        zoom(2.0, centre);
        break;
    case Qt::Key_Left:
        pan(event->modifiers() & Qt::ShiftModifier ? -1.0 : -0.125);
        break;
    case Qt::Key_Right:
        pan(event->modifiers() & Qt::ShiftModifier ? 1.0 : 0.125);
        break;
    case Qt::Key_Home:
        voltsLow_ = -5.5;
        voltsHigh_ = 5.5;
        showAll();
        break;
    case Qt::Key_Y:
        fitVolts();
        break;
    case Qt::Key_N:
        jumpToMarker(1);
        break;
    case Qt::Key_P:
        jumpToMarker(-1);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace adcard
