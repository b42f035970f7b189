// The review's figures beside the plot: the run's markers, digital inputs
// and holes in the view, the cursors' statistics table and the pointer's
// readout.
#include "review/review_window.h"

#include "plot/window_text.h"

#include "plot/plot_widget.h"

#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

// A code in its channel's unit (`cal` goes straight there), with the
// decimals one code's step needs: 4 for the panel's volts.
QString value(const Calibration &cal, double code) { return QString::number(cal.volts(code), 'f', valueDecimals(cal)); }

QString secondsText(double scans, double rate)
{
    return rate > 0 ? QStringLiteral("%1 s").arg(scans / rate, 0, 'f', 4) : QStringLiteral("%1 扫描").arg(scans, 0, 'f', 0);
}

} // namespace

void ReviewWindow::addRuleEvents(std::vector<PlotMarker> &markers)
{
    // What the armed rules did, drawn, listed and stepped through as the
    // markers are. A rule that marks has left a marker at its event already.
    constexpr std::size_t kMostEvents = 10000;
    const auto byScan = [](const PlotMarker &a, const PlotMarker &b) { return a.scan < b.scan; };
    // The file's own markers, in scan order, so that each event finds its
    // marker by bisection rather than by a walk over all of them.
    std::stable_sort(markers.begin(), markers.end(), byScan);
    const std::size_t own = markers.size();
    int64_t total = 0;
    const int number = run_->info().number;
    for (const RecordedEvent &e : reader_->runEvents(number, kMostEvents, total)) {
        const QString rule = QString::fromStdString(e.rule);
        const auto [from, to] = std::equal_range(markers.begin(), markers.begin() + std::ptrdiff_t(own),
                                                 PlotMarker{e.scan, {}}, byScan);
        const bool marked = std::any_of(from, to, [&](const PlotMarker &m) { return m.text.startsWith(rule); });
        if (marked && e.fired)
            continue;
        QString text = QStringLiteral("规则 ") + rule + (e.fired ? QStringLiteral(" 触发 ") : QStringLiteral(" 解除 ")) +
                       QString::number(e.value, 'g', 6);
        if (!e.note.empty())
            text += QStringLiteral("（") + QString::fromStdString(e.note) + QStringLiteral("）");
        markers.push_back({e.scan, text});
        markerScans_.push_back(e.scan);
    }
    std::stable_sort(markers.begin(), markers.end(), byScan);
}

void ReviewWindow::showRunDetails()
{
    PlotRenderer &r = plot_->renderer();
    std::vector<PlotMarker> markers;
    markerScans_.clear();
    if (run_) {
        for (const RecordedMarker &m : run_->markers()) {
            markers.push_back({m.scan, QString::fromStdString(m.text)});
            markerScans_.push_back(m.scan);
        }
        addRuleEvents(markers);
        const int64_t startNs = run_->info().startTimeNs;
        r.setStartTime(startNs > 0 ? std::optional(QDateTime::fromMSecsSinceEpoch(startNs / 1000000)) : std::nullopt);
    }
    std::sort(markerScans_.begin(), markerScans_.end());
    markerList_->clear();
    const double rate = run_ ? run_->scansPerSecond() : 0;
    for (const PlotMarker &m : markers)
        markerList_->addItem(QStringLiteral("%1 %2").arg(secondsText(static_cast<double>(m.scan), rate), m.text),
                             static_cast<double>(m.scan));
    markerList_->setPlaceholderText(markers.empty() ? QStringLiteral("没有标记") : QStringLiteral("标记 (%1)").arg(markers.size()));
    markerList_->setCurrentIndex(-1);
    r.setMarkers(std::move(markers));
    showDigital();
    plot_->refresh();
}

void ReviewWindow::showDigital()
{
    // Only the view's readings, and no more than the strip can show: a day
    // holds up to 864,000. From a little before, for the value at the left.
    std::vector<PlotDigital> digital;
    const PlotRenderer &r = plot_->renderer();
    if (run_) {
        const double reach = std::max(r.last() - r.first(), 10 * run_->scansPerSecond());
        const auto most = static_cast<std::size_t>(std::max(1, 2 * plot_->width()));
        for (const RecordedDigital &d : run_->digitalThinned(static_cast<int64_t>(r.first() - reach),
                                                             static_cast<int64_t>(std::ceil(r.last())), most))
            digital.push_back({d.scan, static_cast<uint16_t>(d.port0), static_cast<uint16_t>(d.port1)});
    }
    plot_->renderer().setDigital(std::move(digital));
    // The holes of the view, so that each shows however narrow: to a
    // pixel, which is all the view can tell apart (a day holds thousands).
    std::vector<std::pair<int64_t, int64_t>> holes;
    if (run_) {
        const double pixel = (r.last() - r.first()) / std::max(1, plot_->width());
        for (const ScanGap &g : run_->gapsAtScale(static_cast<int64_t>(std::floor(r.first())),
                                                  static_cast<int64_t>(std::ceil(r.last())),
                                                  static_cast<int64_t>(pixel),
                                                  static_cast<std::size_t>(std::max(1, 2 * plot_->width()))))
            holes.emplace_back(g.first, g.end);
    }
    plot_->renderer().setHoles(std::move(holes));
    plot_->update();
}

void ReviewWindow::updateStats()
{
    const CursorReadout &c = plot_->cursors();
    const int channels = run_ ? run_->channels() : 0;
    stats_->setRowCount(channels);
    // The columns say volts while every channel is in volts; otherwise each
    // row says its unit.
    const ChannelUnits units = run_ ? run_->info().units : ChannelUnits{};
    bool volts = true;
    for (int ch = 0; ch < channels; ++ch)
        volts = volts && channelUnit(units, ch).volts();
    const QString v = volts ? QStringLiteral(" (V)") : QString();
    stats_->setHorizontalHeaderLabels({QStringLiteral("最小") + v, QStringLiteral("最大") + v, QStringLiteral("平均") + v,
                                       QStringLiteral("RMS") + v, QStringLiteral("峰峰") + v, QStringLiteral("A") + v,
                                       QStringLiteral("B") + v, volts ? QStringLiteral("ΔV B−A") : QStringLiteral("Δ B−A")});
    QStringList rows;
    for (int ch = 0; ch < channels; ++ch)
        rows << QString::fromStdString(channelName(units, ch) + (volts ? "" : " (" + channelUnit(units, ch).unit + ")"));
    stats_->setVerticalHeaderLabels(rows);
    const double rate = run_ ? run_->scansPerSecond() : 0;
    QString delta;
    if (c.valid) {
        delta = QStringLiteral("A–B %1 … %2　Δt = %3")
                    .arg(secondsText(static_cast<double>(c.first), rate),
                         secondsText(static_cast<double>(c.last), rate),
                         secondsText(static_cast<double>(c.last - c.first), rate));
        if (rate > 0 && c.last > c.first)
            delta += QStringLiteral("　1/Δt = %1 Hz").arg(rate / static_cast<double>(c.last - c.first), 0, 'g', 6);
    }
    delta_->setText(delta);
    delta_->setVisible(c.valid);
    // Exactly its rows: the plot takes the rest.
    stats_->setFixedHeight(stats_->horizontalHeader()->sizeHint().height() +
                           channels * stats_->verticalHeader()->defaultSectionSize() + 2 * stats_->frameWidth());
    for (int ch = 0; ch < channels; ++ch) {
        const auto k = static_cast<std::size_t>(ch);
        const RangeStats s = c.valid && k < c.channels.size() ? c.channels[k] : RangeStats{};
        const auto at = [&](const std::vector<RangeStats> &v) -> std::optional<double> {
            if (c.valid && k < v.size() && v[k].count > 0)
                return v[k].mean;
            return std::nullopt;
        };
        const auto a = at(c.atA), b = at(c.atB);
        const Calibration cal = run_->info().channelCalibration(ch);
        const int places = valueDecimals(cal);
        const QString pending = !c.valid ? QString() : statsPending_ ? QStringLiteral("生成摘要中…") : QStringLiteral("—");
        const ValueSpan span = valueSpan(cal, s.min, s.max);
        const auto number = [places](double v) { return QString::number(v, 'f', places); };
        QStringList cells = s.count == 0 ? QStringList{pending, pending, pending, pending, pending}
                                         : QStringList{number(span.low), number(span.high), value(cal, s.mean),
                                                       number(cal.rmsVolts(s.mean, s.rms)), number(span.width())};
        cells += {a ? value(cal, *a) : QString(), b ? value(cal, *b) : QString(),
                  a && b ? QString::number(cal.volts(*b) - cal.volts(*a), 'f', places) : QString()};
        for (int col = 0; col < cells.size(); ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            stats_->setItem(ch, col, item);
        }
    }
}

void ReviewWindow::updateHover()
{
    const HoverReadout &h = plot_->hover();
    auto *readout = static_cast<ElidingLabel *>(readout_);
    if (!h.valid || !run_) {
        readout->setFullText(QStringLiteral("单击放置光标A，右击放置光标B"));
        return;
    }
    const double rate = run_->scansPerSecond();
    QString text = QStringLiteral("t = %1").arg(secondsText(h.scan, rate));
    // The clock only within some 30,000 years of the start: a damaged file's
    // scan count can be far beyond what milliseconds in 64 bits hold.
    const double after = h.scan / rate * 1000.0;
    if (rate > 0 && run_->info().startTimeNs > 0 && std::fabs(after) < 1e18) {
        const auto ms = run_->info().startTimeNs / 1000000 + static_cast<int64_t>(after);
        text += QStringLiteral(" (%1)").arg(QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz")));
    }
    readout->setFullText(text + QStringLiteral("　") + plot_->hoverText());
}

} // namespace adcard
