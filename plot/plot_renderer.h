#pragma once
// One plot of a DataSource, without widgets: it keeps the view (the scans
// shown, the volts shown, the channels shown, two cursors, markers and a
// digital strip) and draws it into any QPainter. The widget (plot_widget.h)
// only turns the pointer and keys into calls here; the picture for a file
// (PNG) comes from the same render().
//
// Per pixel column each channel is drawn as a bar from its minimum to its
// maximum, joined to the column before; a column with no scans (a gap) is a
// break and nothing is joined across it. With the band on, that envelope is
// drawn lighter, under a translucent band from mean - sd to mean + sd and
// the line of the means, so that a few spikes do not pass for the signal. Drawing asks the source only for
// the columns shown, so its cost follows the width, never the data.
#include "data/data_source.h"
#include "data/statistics.h"
#include "plot/value_axes.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <utility>
#include <optional>
#include <vector>

class QPainter;

namespace adcard {

// The multiples of `step` from `from` to `to` (each end widened by a
// billionth of a step), rising, at most `most`: counted, never summed, since
// far out (a run of 2^60 scans) a fine step is below the spacing of doubles
// and adding it would never move on.
std::vector<double> axisTicks(double from, double to, double step, int most);

// Caps the columns summarised at once, whatever the width; wider plots
// stretch the columns.
inline constexpr int kMaxPlotColumns = 3072;

// A labelled vertical line at a scan.
struct PlotMarker {
    int64_t scan = 0;
    QString text;
};

// The two digital input ports from `scan` on, until the next entry.
struct PlotDigital {
    int64_t scan = 0;
    uint16_t port0 = 0;
    uint16_t port1 = 0;
};

// Asked for exact figures per channel over the present scans in [first,
// last), in codes.
using StatsFn = std::function<std::vector<RangeStats>(int64_t first, int64_t last)>;

// How the time axis is labelled: the scan's distance from an origin in
// units of `scansPerUnit` scans, named `unit`.
struct TimeAxis {
    double scansPerUnit = 1.0;
    QString unit;
    bool fromEnd = false; // origin at the source's newest scan (else at scan 0)
};

class PlotRenderer {
public:
    PlotRenderer();

    // Not owned; null draws an empty frame. A new source shows all of it.
    void setSource(const DataSource *source);
    const DataSource *source() const { return source_; }
    // The source's codes to volts.
    const Calibration &calibration() const { return calibration_; }
    // A different source with the same scan space (a held copy of the live
    // one): the view, cursors and everything else stay.
    void swapSource(const DataSource *source);

    // ---- What is shown --------------------------------------------------
    // The scans across the plot, [first, last), kept within the source's
    // view (DataSource::viewFirst() .. scanCount()) and at least
    // kMinSpanScans wide.
    static constexpr double kMinSpanScans = 4.0;
    double first() const { return first_; }
    double last() const { return last_; }
    void setRange(double first, double last);
    void showAll(); // Home: everything (a following view goes on following)
    // factor < 1 zooms in; `anchor` (a scan) stays where it is on screen.
    void zoom(double factor, double anchor);
    void zoomAtCentre(double factor) { zoom(factor, (first_ + last_) / 2); }
    void pan(double scans);
    // Following: the range moves with the source's newest scan, so that a
    // growing source scrolls by (the live ring). Any range may follow.
    void setFollowing(bool on) { following_ = on; }
    bool following() const { return following_; }
    // Brings the range along to the source's newest scan when following;
    // returns how many scans it moved. Called by draw and advance().
    double syncToSource();
    bool showsAll() const;

    // Volts: the full -5 .. +5 V, or fitted to what is visible.
    void fitVoltsToVisible();
    void setVoltsRange(double bottom, double top);
    void resetVolts() { setVoltsRange(-5.0, 5.0); }
    bool voltsFull() const { return voltsBottom_ == -5.0 && voltsTop_ == 5.0; }
    double voltsBottom() const { return voltsBottom_; }
    double voltsTop() const { return voltsTop_; }

    void setChannelVisible(int channel, bool visible);
    bool channelVisible(int channel) const;
    static QColor channelColor(int channel);

    void setTimeAxis(std::optional<TimeAxis> axis) { axis_ = std::move(axis); } // none: seconds, else scans
    TimeAxis timeAxis() const;
    // The wall-clock time of scan 0; shown under the axis when set and the
    // source knows its rate.
    void setStartTime(std::optional<QDateTime> t) { startTime_ = std::move(t); }
    void setMarkers(std::vector<PlotMarker> markers); // sorted by scan here
    // Scans [first, end) with nothing recorded, drawn as bands at least a
    // pixel wide, so that a hole shows at any zoom.
    void setHoles(std::vector<std::pair<int64_t, int64_t>> holes) { holes_ = std::move(holes); }
    // Lanes: each shown channel in a band of its own, -5 .. +5 V (or the
    // fitted volts) in each; else all over one another, unless the shown
    // channels have more than two units (value_axes.h).
    void setLanes(bool on) { lanes_ = on; }
    bool lanes() const { return lanes_; }
    // The vertical axes of a picture whose waveforms go in `plot`
    // (plotRect()): every trace is drawn through its channel's.
    ValueAxes valueAxes(const QRect &plot) const;
    // The mean +- standard deviation band over a lighter envelope; off, the
    // picture is the envelope alone.
    void setBand(bool on);
    bool band() const { return band_; }
    // The time axis labelled with the wall clock (hh:mm:ss, the date where
    // it changes) when the start time and rate are known.
    void setClockAxis(bool on) { clockAxis_ = on; }
    bool clockAxis() const { return clockAxis_; }
    bool clockKnown() const;
    void setDigital(std::vector<PlotDigital> digital); // a strip when not empty
    // Cursors, in scans; none hides one.
    void setCursors(std::optional<double> a, std::optional<double> b);
    std::optional<double> cursorA() const { return cursorA_; }
    std::optional<double> cursorB() const { return cursorB_; }
    // Picture width is trimmed (from the left) to a multiple of this when it
    // fits, so that whole steps of the source move the picture by whole
    // pixels (the live ring: one step a block).
    void setWidthQuantum(int n) { quantum_ = n > 0 ? n : 1; }

    // ---- Geometry --------------------------------------------------------
    // Where the waveforms go inside `area`; the rest carries the axes and
    // the digital strip.
    QRect plotRect(const QRect &area) const;
    double scanAtX(double x, const QRect &area) const;
    double xOfScan(double scan, const QRect &area) const;
    // Seconds (or the axis' units) of a scan from the axis' origin.
    double axisValue(double scan) const;

    // ---- Drawing ---------------------------------------------------------
    // Draws what lies in `dirty` (the whole area when empty).
    void render(QPainter &p, const QRect &area, const QRect &dirty = {}) const;
    QImage renderImage(const QSize &size) const;

    // The source grew or changed: brings the range along and returns by how
    // many pixels the last picture inside plotRect(lastArea()) may simply
    // move left, the strip at the right being new; 0 when it must all be
    // drawn again. Only a following view of the whole width whose step is a
    // whole number of columns, with an axis counted from the end and
    // nothing drawn over the plot but the cursors, moves.
    int advance();
    QRect lastArea() const { return lastArea_; }
    // Something in the data changed: everything is asked for again.
    void invalidate() { cacheValid_ = false; }

    // The summaries of the column under x in a picture drawn into `area`,
    // one per channel; empty where nothing is drawn.
    std::vector<ColumnSummary> columnAt(double x, const QRect &area) const;
    // Memory the plot keeps between pictures: 4 bytes a channel and column,
    // 8 more with the band.
    std::size_t heapBytes() const { return cache_.capacity() * sizeof(Extent) + spread_.capacity() * sizeof(Spread); }

private:
    struct Bounds {
        double lo, hi;
    };
    Bounds bounds() const;
    void clampRange() const;
    double sync() const;
    int columnsFor(const QRect &plot) const;
    // Fills cache_ for the view and `columns` (plus one column before the
    // first, for the join).
    void summariseInto(int columns) const;
    void drawAxes(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const;
    // The axes' parts: a band's volts, the time's ticks, grid and labels,
    // the wall clock at both ends.
    struct TimeTicks {
        double v0 = 0, v1 = 1, pxPerUnit = 1, step = 1, minor = 1;
        double shift = 0; // a clock's labels fall on whole units of the local clock
        int charWidth = 1;
        bool clock = false;
        int xOf(double value, const QRect &r) const;
    };
    // One value axis: its grid over the plot (the left or a lane's only)
    // and its labels beside it.
    // With several axes, one of a single channel is labelled in its colour.
    void drawValueAxis(QPainter &p, const QRect &area, const QRect &r, const ValueAxis &axis, bool grid,
                       bool coloured, const QRect &dirty) const;
    TimeTicks timeTicks(const QPainter &p, const QRect &r) const;
    void drawTimeGrid(QPainter &p, const QRect &r, const QRect &dirty, const TimeTicks &t) const;
    void drawTimeLabels(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty, const TimeTicks &t) const;
    void drawWallClock(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const;
    void drawTraces(QPainter &p, const QRect &r, const QRect &dirty) const;
    // A frame's bars, columns [from, to] of each channel, and the marks of
    // traces cut by fitted volts.
    // With the band, two more layers of bars over them: each column's
    // mean +- sd, and its mean joined to the column before.
    struct TraceBars {
        int from = 0, to = -1, channels = 0;
        std::vector<QRect> bars; // channel after channel; null: no bar
        std::vector<QRect> spread, means; // as bars, with the band only
        std::vector<QRect> clipped;
        int64_t rows = 0; // pixel rows of all bars together
        std::size_t index(int i, int c) const { return static_cast<std::size_t>(c * (to - from + 1) + (i - from)); }
        QRect &at(int i, int c) { return bars[index(i, c)]; }
        const QRect &at(int i, int c) const { return bars[index(i, c)]; }
        int layers() const { return spread.empty() ? 1 : 3; }
        const std::vector<QRect> &layer(int n) const { return n == 0 ? bars : n == 1 ? spread : means; }
    };
    TraceBars traceBars(const QRect &r, const QRect &dirty) const;
    // How channel c's codes become rows: through its unit, against its axis.
    struct TraceMap {
        const ValueAxis *axis = nullptr; // null: not shown
        Calibration cal;                 // codes to the unit
        int y(double code) const { return axis->yOf(cal.volts(code)); }
    };
    std::vector<TraceMap> traceMaps(const ValueAxes &axes) const;
    // Fitted volts: a column's codes past its axis' top or bottom, marked there.
    void addClipped(TraceBars &b, const TraceMap &map, int16_t min, int16_t max, int x0, int w) const;

    // Column i of channel c's band bars, beside its envelope bar at x0, w wide.
    void addBandBars(TraceBars &b, int i, int c, const TraceMap &map, int x0, int w) const;
    // A layer's colour; only the band's is translucent.
    QColor layerColor(int layer, int channel) const;
    void drawBarsAsRects(QPainter &p, const TraceBars &b) const;
    void drawBarsAsPicture(QPainter &p, const QRect &r, const TraceBars &b) const;
    int averageCharWidth(const QPainter &p) const;
    void drawMarkers(QPainter &p, const QRect &r) const;
    void drawCursors(QPainter &p, const QRect &r) const;
    void drawDigital(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const;
    int digitalHeight(const QRect &area) const;
    void drawHoles(QPainter &p, const QRect &r) const;
    QString clockLabel(double seconds, double step, std::optional<QDate> &lastDate) const;

    const DataSource *source_ = nullptr;
    // Brought along to the source's end by render() when following.
    mutable double first_ = 0.0;
    mutable double last_ = 1.0;
    mutable double syncedEnd_ = 0.0;
    bool following_ = false;
    Calibration calibration_;
    double voltsBottom_ = -5.0;
    double voltsTop_ = 5.0;
    std::vector<bool> visible_;
    std::optional<TimeAxis> axis_;
    std::optional<QDateTime> startTime_;
    std::vector<PlotMarker> markers_;
    std::vector<std::pair<int64_t, int64_t>> holes_;
    bool lanes_ = false;
    bool band_ = false;
    bool clockAxis_ = false;
    std::vector<PlotDigital> digital_;
    std::optional<double> cursorA_, cursorB_;
    int quantum_ = 1;

    // The last picture's columns: channels() entries per column, column 0
    // being the one just before the picture (for the join). Only the
    // extremes, so that a wide plot keeps little: min > max is a gap.
    struct Extent {
        int16_t min = INT16_MAX;
        int16_t max = INT16_MIN;
    };
    // The band's, beside cache_ and only while it is on; sd < 0 is a gap.
    struct Spread {
        float mean = 0.0F;
        float sd = -1.0F;
    };
    void fetch(int from, int to) const; // columns [from, to) into cache_
    mutable std::vector<Extent> cache_;
    mutable std::vector<Spread> spread_;
    mutable bool cacheValid_ = false;
    mutable double cacheFirst_ = 0.0, cacheLast_ = 0.0;
    mutable int cacheColumns_ = 0;
    mutable int cacheChannels_ = 0;
    mutable double cacheEnd_ = 0.0;
    mutable const DataSource *cacheSource_ = nullptr;
    mutable QRect lastArea_;
    static constexpr int kPicturePixels = 8192; // of tall bars at a time, on the stack
    mutable QFont charWidthFont_;
    mutable int charWidth_ = -1;         // of charWidthFont_
};

} // namespace adcard
