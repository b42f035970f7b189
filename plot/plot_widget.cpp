#include "plot/plot_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace adcard {

namespace {
constexpr int kDragStart = 4; // pixels before a press becomes a drag
} // namespace

PlotWidget::PlotWidget(QWidget *parent)
    : QWidget(parent), own_(std::make_unique<PlotRenderer>()), renderer_(own_.get())
{
    init();
}

PlotWidget::PlotWidget(PlotRenderer &renderer, QWidget *parent) : QWidget(parent), renderer_(&renderer) { init(); }

PlotWidget::~PlotWidget() = default;

void PlotWidget::init()
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus); // the keys move the view
    setAttribute(Qt::WA_OpaquePaintEvent); // render() fills every pixel
    setMinimumSize(240, 120);
}

void PlotWidget::setSource(const DataSource *source)
{
    renderer_->setSource(source);
    refresh();
}

void PlotWidget::setStatsProvider(StatsFn stats)
{
    stats_ = std::move(stats);
    updateCursorReadout();
}

void PlotWidget::sourceChanged() { showChange(renderer_->advance()); }

void PlotWidget::showChange(int shift)
{
    if (!isVisible())
        return;
    // The pointer's dashed line stays where the pointer is: a moved picture
    // would carry it along.
    if (shift > 0 && !hover_.valid)
        scroll(-shift, 0, renderer_->plotRect(rect())); // repaints only the new strip
    else
        update();
    if (hover_.valid)
        updateHover();
    if (cursorReadout_.valid)
        updateCursorReadout();
}

void PlotWidget::refresh()
{
    renderer_->invalidate();
    update();
    updateHover();
    updateCursorReadout();
}

void PlotWidget::setChannelVisible(int channel, bool visible)
{
    renderer_->setChannelVisible(channel, visible);
    update();
    updateHover();
}

QString PlotWidget::voltsText(double volts) const
{
    return format_ ? format_(volts) : QString::number(volts, 'f', 3);
}

PlotWidget::ChannelText PlotWidget::channelText(int c) const
{
    const ChannelUnits units = renderer_->source() ? renderer_->source()->channelUnits() : ChannelUnits{};
    const ChannelUnit u = channelUnit(units, c);
    ChannelText t;
    t.name = QString::fromStdString(channelName(units, c));
    t.unit = QString::fromStdString(u.unit);
    t.cal = inUnit(renderer_->calibration(), u);
    // Volts as the panel writes them; another unit with the decimals its
    // codes' step needs.
    if (u.volts())
        t.value = [this](double v) { return voltsText(v); };
    else
        t.value = [decimals = valueDecimals(t.cal)](double v) { return QString::number(v, 'f', decimals); };
    return t;
}

QString PlotWidget::hoverText() const
{
    QString text;
    if (!hover_.valid)
        return text;
    // Every channel, shown or not: hiding a trace is to see the others, not
    // to lose its values.
    for (std::size_t c = 0; c < hover_.channels.size(); ++c) {
        const ColumnSummary &s = hover_.channels[c];
        const ChannelText ch = channelText(int(c));
        if (!text.isEmpty())
            text += QStringLiteral("  ");
        text += ch.name + QStringLiteral(" ");
        if (s.count <= 0)
            text += QStringLiteral("无数据");
        else if (s.min == s.max)
            text += ch.value(ch.cal.volts(s.min)) + QStringLiteral(" ") + ch.unit;
        else {
            const ValueSpan span = valueSpan(ch.cal, s.min, s.max);
            text += QStringLiteral("最小 %1 最大 %2 均值 %3")
                        .arg(ch.value(span.low), ch.value(span.high), ch.value(ch.cal.volts(s.mean)));
            if (renderer_->band()) // the band's half-width there
                text += QStringLiteral(" σ %1").arg(ch.value(std::fabs(ch.cal.scale) * s.sd));
            text += QStringLiteral(" ") + ch.unit;
        }
    }
    return text;
}

QString PlotWidget::cursorText() const
{
    if (!cursorReadout_.valid)
        return {};
    const TimeAxis axis = renderer_->timeAxis();
    const CursorReadout &r = cursorReadout_;
    QString text = QStringLiteral("Δt %1 %2").arg(QString::number(r.delta, 'g', 6), axis.unit);
    if (r.delta > 0)
        text += QStringLiteral("  1/Δt %1 /%2").arg(QString::number(1.0 / r.delta, 'g', 6), axis.unit);
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
        const RangeStats &s = r.channels[c];
        const ChannelText ch = channelText(int(c));
        const Calibration &cal = ch.cal;
        const auto at = [&cal](const std::vector<RangeStats> &v, std::size_t k) -> std::optional<double> {
            if (k < v.size() && v[k].count > 0)
                return cal.volts(v[k].mean);
            return std::nullopt;
        };
        text += QStringLiteral("\n") + ch.name + QStringLiteral(" ");
        const auto a = at(r.atA, c), b = at(r.atB, c);
        text += QStringLiteral("A %1  B %2").arg(a ? ch.value(*a) : QStringLiteral("—"), b ? ch.value(*b) : QStringLiteral("—"));
        if (a && b)
            text += QStringLiteral("  Δ%1 %2").arg(ch.unit == QStringLiteral("V") ? ch.unit : QString(), ch.value(*b - *a));
        if (s.count <= 0)
            text += QStringLiteral("  之间无数据");
        else {
            const ValueSpan span = valueSpan(cal, s.min, s.max);
            text += QStringLiteral("  峰峰 %1  最小 %2 最大 %3 均值 %4 RMS %5 %6")
                        .arg(ch.value(span.width()), ch.value(span.low), ch.value(span.high),
                             ch.value(cal.volts(s.mean)), ch.value(cal.rmsVolts(s.mean, s.rms)), ch.unit);
        }
    }
    return text;
}

bool PlotWidget::savePng(const QString &path, const QSize &size) const
{
    return renderImage(size.isEmpty() ? this->size() : size).save(path, "PNG");
}

void PlotWidget::hoverAt(double x)
{
    hoverX_ = x;
    updateHover();
}

void PlotWidget::updateHover()
{
    const bool wasValid = hover_.valid;
    HoverReadout h;
    if (hoverX_ >= 0) {
        h.channels = renderer_->columnAt(hoverX_, rect());
        h.valid = std::any_of(h.channels.begin(), h.channels.end(), [](const ColumnSummary &s) { return s.count > 0; });
        h.scan = renderer_->scanAtX(hoverX_, rect());
    }
    if (!h.valid)
        h.channels.clear();
    hover_ = std::move(h);
    if (wasValid || hover_.valid)
        update(); // the pointer's line
    emit hoverChanged();
}

void PlotWidget::setCursorA(std::optional<double> scan)
{
    renderer_->setCursors(scan, renderer_->cursorB());
    update();
    updateCursorReadout();
}

void PlotWidget::setCursorB(std::optional<double> scan)
{
    renderer_->setCursors(renderer_->cursorA(), scan);
    update();
    updateCursorReadout();
}

void PlotWidget::updateCursorReadout()
{
    CursorReadout r;
    const auto a = renderer_->cursorA();
    const auto b = renderer_->cursorB();
    if (a && b) {
        r.valid = true;
        r.first = std::llround(std::min(*a, *b));
        r.last = std::llround(std::max(*a, *b));
        const TimeAxis axis = renderer_->timeAxis();
        r.delta = static_cast<double>(r.last - r.first) / (axis.scansPerUnit > 0 ? axis.scansPerUnit : 1.0);
        if (stats_ && r.last > r.first)
            r.channels = stats_(r.first, r.last);
        if (stats_) { // the samples under the cursors, as placed (A may be right of B)
            const int64_t sa = std::llround(*a), sb = std::llround(*b);
            r.atA = stats_(sa, sa + 1);
            r.atB = stats_(sb, sb + 1);
        }
    }
    const bool changed = r.valid || cursorReadout_.valid;
    cursorReadout_ = std::move(r);
    if (changed)
        emit cursorsChanged();
}

void PlotWidget::userMoved()
{
    update();
    updateHover();
    emit viewChanged();
}

void PlotWidget::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    renderer_->render(p, rect(), event->rect());
    if (hover_.valid) {
        const QRect r = renderer_->plotRect(rect());
        const int x = static_cast<int>(hoverX_);
        p.setPen(QPen(QColor(0, 0, 0, 96), 1, Qt::DashLine));
        p.drawLine(x, r.top(), x, r.bottom());
    }
    if (box_) {
        p.setPen(QPen(QColor(0, 0, 160), 1, Qt::DashLine));
        p.setBrush(QColor(0, 0, 160, 30));
        p.drawRect(box_->normalized());
    }
}

void PlotWidget::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) {
        event->ignore();
        return;
    }
    renderer_->zoom(std::pow(0.8, steps), renderer_->scanAtX(event->position().x(), rect()));
    userMoved();
    event->accept();
}

void PlotWidget::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::RightButton) {
        setCursorB(renderer_->scanAtX(event->position().x(), rect()));
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (event->modifiers() & Qt::ControlModifier) {
        box_ = QRect(event->position().toPoint(), QSize(1, 1));
        return;
    }
    pressed_ = true;
    dragging_ = false;
    pressAt_ = event->position().toPoint();
}

void PlotWidget::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (box_) {
        box_->setBottomRight(at);
        update();
    }
    if (pressed_) {
        if (!dragging_ && std::abs(at.x() - pressAt_.x()) >= kDragStart)
            dragging_ = true;
        if (dragging_) {
            const QRect r = renderer_->plotRect(rect());
            const double perPixel = (renderer_->last() - renderer_->first()) / std::max(1, r.width());
            renderer_->pan(-(at.x() - pressAt_.x()) * perPixel);
            pressAt_ = at;
            userMoved();
        }
    }
    hoverAt(at.x());
}

void PlotWidget::zoomToBox(const QRect &box)
{
    const QRect b = box.normalized();
    const QRect r = renderer_->plotRect(rect());
    if (b.width() >= kDragStart)
        renderer_->setRange(renderer_->scanAtX(b.left(), rect()), renderer_->scanAtX(b.right() + 1, rect()));
    // The volts too, where the box is tall enough and the channels overlaid.
    if (b.height() >= kDragStart && !renderer_->valueAxes(r).lanes && r.height() > 1) {
        const auto voltsAt = [&](int y) {
            const double f = static_cast<double>(r.bottom() - std::clamp(y, r.top(), r.bottom())) / (r.height() - 1);
            return renderer_->voltsBottom() + f * (renderer_->voltsTop() - renderer_->voltsBottom());
        };
        const double lo = voltsAt(b.bottom()), hi = voltsAt(b.top());
        if (hi - lo > 1e-3)
            renderer_->setVoltsRange(lo, hi);
    }
    userMoved();
}

void PlotWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && box_) {
        const QRect box = *box_;
        box_.reset();
        zoomToBox(box);
        return;
    }
    if (event->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    if (dragging_) {
        dragging_ = false;
        return;
    }
    const double scan = renderer_->scanAtX(event->position().x(), rect());
    if (event->modifiers() & Qt::ShiftModifier)
        setCursorB(scan);
    else
        setCursorA(scan);
}

void PlotWidget::keyPressEvent(QKeyEvent *event)
{
    const double span = renderer_->last() - renderer_->first();
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        renderer_->zoomAtCentre(0.5);
        break;
    case Qt::Key_Minus:
        renderer_->zoomAtCentre(2.0);
        break;
    case Qt::Key_Left:
        renderer_->pan(-span / 10);
        break;
    case Qt::Key_Right:
        renderer_->pan(span / 10);
        break;
    case Qt::Key_Home: // everything: the volts too, so that nothing is cut off
        renderer_->showAll();
        renderer_->resetVolts();
        break;
    case Qt::Key_Y:
        if (renderer_->voltsFull())
            renderer_->fitVoltsToVisible();
        else
            renderer_->resetVolts();
        break;
    case Qt::Key_L:
        renderer_->setLanes(!renderer_->lanes());
        break;
    case Qt::Key_A:
    case Qt::Key_B:
        if (hoverX_ >= 0) {
            const double scan = renderer_->scanAtX(hoverX_, rect());
            event->key() == Qt::Key_A ? setCursorA(scan) : setCursorB(scan);
        }
        return;
    case Qt::Key_Escape:
        renderer_->setCursors(std::nullopt, std::nullopt);
        update();
        updateCursorReadout();
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    userMoved();
}

void PlotWidget::leaveEvent(QEvent *) { hoverAt(-1); }

void PlotWidget::resizeEvent(QResizeEvent *) { updateHover(); }

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_plot_widget.cpp"
