#include "plot/plot_renderer.h"

#include "plot/plot_layout.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace adcard {

using namespace plot_layout;

void PlotRenderer::drawMarkers(QPainter &p, const QRect &r) const
{
    if (markers_.empty())
        return;
    const QFontMetrics fm = p.fontMetrics();
    const auto begin = std::lower_bound(markers_.begin(), markers_.end(), first_,
                                        [](const PlotMarker &m, double s) { return static_cast<double>(m.scan) < s; });
    int labelsEnd = INT32_MIN;
    int drawnX = INT32_MIN;
    for (auto m = begin; m != markers_.end() && static_cast<double>(m->scan) <= last_; ++m) {
        const int x = r.left() + static_cast<int>(std::lround((static_cast<double>(m->scan) - first_) / (last_ - first_) * r.width()));
        if (x == drawnX)
            continue; // many in one pixel: one line
        drawnX = x;
        p.setPen(QPen(QColor(120, 60, 0), 1, Qt::DashLine));
        p.drawLine(x, r.top(), x, r.bottom());
        if (!m->text.isEmpty() && x + 3 > labelsEnd) {
            const QString text = fm.elidedText(m->text, Qt::ElideRight, 160);
            const QRect box(x + 3, r.top() + 1, fm.horizontalAdvance(text) + 4, fm.height());
            p.fillRect(box, QColor(255, 255, 255, 200));
            p.setPen(QColor(120, 60, 0));
            p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
            labelsEnd = box.right() + 6;
        }
    }
}

void PlotRenderer::drawCursors(QPainter &p, const QRect &r) const
{
    const QFontMetrics fm = p.fontMetrics();
    const auto draw = [&](const std::optional<double> &at, const QColor &color, const QString &name) {
        if (!at || *at < first_ || *at > last_)
            return;
        const int x = r.left() + static_cast<int>(std::lround((*at - first_) / (last_ - first_) * r.width()));
        p.setPen(QPen(color, 1));
        p.drawLine(x, r.top(), x, r.bottom());
        p.drawText(QRect(x + 2, r.bottom() - fm.height(), fm.horizontalAdvance(name) + 4, fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, name);
    };
    draw(cursorA_, QColor(200, 0, 0), QStringLiteral("A"));
    draw(cursorB_, QColor(0, 0, 200), QStringLiteral("B"));
}

namespace {

// Changes at the x in `changes` (ascending) too close for their values: a
// tick for one alone, a band saying 变化 where they crowd.
void drawChanges(QPainter &p, const QRect &row, const std::vector<int> &changes)
{
    const QString changed = QStringLiteral("变化");
    const QFontMetrics fm = p.fontMetrics();
    for (std::size_t i = 0; i < changes.size();) {
        std::size_t j = i;
        while (j + 1 < changes.size() && changes[j + 1] - changes[j] <= 3)
            ++j;
        if (j == i) {
            p.setPen(kAxis);
            p.drawLine(changes[i], row.top() + 2, changes[i], row.bottom() - 2);
        } else {
            const QRect band(changes[i], row.top(), changes[j] - changes[i] + 1, row.height());
            p.fillRect(band, QColor(255, 190, 110));
            if (band.width() >= fm.horizontalAdvance(changed) + 4) {
                p.setPen(QColor(120, 60, 0));
                p.drawText(band, Qt::AlignCenter, changed);
            }
        }
        i = j + 1;
    }
}

} // namespace

void PlotRenderer::drawDigital(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const
{
    if (digital_.empty())
        return;
    const QRect strip(area.left(), r.bottom() + kDigitalGap, area.width(), 2 * kDigitalRow);
    if (!strip.intersects(dirty))
        return;
    const QFontMetrics fm = p.fontMetrics();
    const double end = source_ ? static_cast<double>(source_->scanCount()) : last_;
    const auto xOf = [&](double scan) {
        return r.left() + static_cast<int>(std::lround((std::clamp(scan, first_, last_) - first_) / (last_ - first_) * r.width()));
    };
    // The entry in force at `first_`: the last one at or before it.
    auto begin = std::upper_bound(digital_.begin(), digital_.end(), first_,
                                  [](double s, const PlotDigital &d) { return s < static_cast<double>(d.scan); });
    if (begin != digital_.begin())
        --begin;
    for (int port = 0; port < 2; ++port) {
        const int top = strip.top() + port * kDigitalRow;
        const QRect row(r.left(), top, r.width(), kDigitalRow - 2);
        p.setPen(kAxis);
        p.drawText(QRect(area.left(), top, r.left() - 6 - area.left(), kDigitalRow), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("DI%1").arg(port));
        p.fillRect(row, QColor(245, 245, 245));
        const auto value = [port](const PlotDigital &d) { return port == 0 ? d.port0 : d.port1; };
        // Changes closer than their text needs are gathered: where they
        // crowd (a day's zoom), a band that says so, instead of a grey bar.
        std::vector<int> changes;
        for (auto d = begin; d != digital_.end() && static_cast<double>(d->scan) <= last_;) {
            // One segment: this value until it changes.
            auto next = d + 1;
            while (next != digital_.end() && value(*next) == value(*d))
                ++next;
            const double segEnd = next == digital_.end() ? end : static_cast<double>(next->scan);
            const int x0 = xOf(static_cast<double>(d->scan));
            const int x1 = xOf(segEnd);
            const QString text = QStringLiteral("%1").arg(value(*d), 4, 16, QLatin1Char('0')).toUpper();
            p.setPen(kAxis);
            if (x1 - x0 >= fm.horizontalAdvance(text) + 6) {
                p.drawLine(x0, row.top(), x0, row.bottom());
                p.drawText(QRect(x0 + 1, row.top(), x1 - x0 - 1, row.height()), Qt::AlignCenter, text);
            } else if (static_cast<double>(d->scan) >= first_ && (changes.empty() || changes.back() != x0)) {
                changes.push_back(x0); // too narrow: where it changes
            }
            d = next;
        }
        drawChanges(p, row, changes);
    }
}

} // namespace adcard
