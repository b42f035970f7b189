#pragma once
// The plot as a widget: a PlotRenderer drawn on screen, moved with the
// pointer and the keys, with two cursors and a readout under the pointer.
//
//   wheel                 zoom around the pointer
//   + / -                 zoom around the centre
//   drag (left button)    pan;  Left / Right  pan by a tenth
//   Home                  show everything
//   click                 cursor A;  shift-click or right click  cursor B
//   A / B                 cursor A / B at the pointer;  Esc  no cursors
//   Y                     volts fitted to what is visible / back to -5 .. +5 V
//   Ctrl+drag             zoom to the box drawn
//   L                     lanes (a band per channel) / all overlaid
//
// The owner gives it a source and, for the figures between the cursors, a
// StatsFn; it learns what is under the pointer and between the cursors from
// hoverChanged() and cursorsChanged(), as numbers or as ready texts.
#include "plot/plot_renderer.h"

#include <QWidget>

#include <memory>
#include <optional>

namespace adcard {

// What lies under the pointer: per channel the column's min, max and mean.
struct HoverReadout {
    bool valid = false;
    double scan = 0;                     // at the pointer
    std::vector<ColumnSummary> channels; // in codes; count 0: nothing there
};

// Between the cursors: Δt and per channel min, max, mean and RMS; at each
// cursor, each channel's sample there.
struct CursorReadout {
    bool valid = false; // both cursors set
    int64_t first = 0, last = 0;         // scans [first, last)
    double delta = 0;                    // in the time axis' units
    std::vector<RangeStats> channels;     // in codes; empty without a StatsFn
    std::vector<RangeStats> atA, atB;     // the scan at A and at B; count 0: none there
};

class PlotWidget : public QWidget {
    Q_OBJECT

public:
    // Draws a renderer of its own.
    explicit PlotWidget(QWidget *parent = nullptr);
    // Draws a renderer kept elsewhere (which must outlive the widget).
    explicit PlotWidget(PlotRenderer &renderer, QWidget *parent = nullptr);
    ~PlotWidget() override;

    PlotRenderer &renderer() { return *renderer_; }
    const PlotRenderer &renderer() const { return *renderer_; }

    // A new source, shown whole. Not owned.
    void setSource(const DataSource *source);
    void setStatsProvider(StatsFn stats);
    // The source grew or changed: redraws, moving the picture instead where
    // it can (following, nothing over the plot that stays in place).
    void sourceChanged();
    // Any view setting changed through renderer(): redraws.
    void refresh();

    // The channels' visibility, as the legend's checkboxes set it.
    void setChannelVisible(int channel, bool visible);

    const HoverReadout &hover() const { return hover_; }
    const CursorReadout &cursors() const { return cursorReadout_; }
    // Ready texts, in volts: "通道1 最小 -1.000 最大 2.000 均值 .500 V  通道2 …"
    // (with the band on, "… 均值 .500 σ .120 V")
    // (one value where min and max agree) and "Δt 1.5 s  通道1 最小 … RMS … V".
    // Volts are written by `format` (three decimals and "." unless set).
    void setVoltsFormat(std::function<QString(double volts)> format) { format_ = std::move(format); }
    QString hoverText() const;
    // One line for Δt and 1/Δt, then one per channel.
    QString cursorText() const;
    QString voltsText(double volts) const;

    // The view as the owner's export wants it.
    QImage renderImage(const QSize &size) const { return renderer_->renderImage(size); }
    bool savePng(const QString &path, const QSize &size = {}) const;

    // Shows the values under a point (x in the widget), or none (x < 0).
    void hoverAt(double x);
    bool hoverShown() const { return hover_.valid; }
    // The renderer moved the picture by `shift` pixels (PlotRenderer::
    // advance()), or changed it all (0): moves or repaints what is needed.
    void showChange(int shift);
    void setCursorA(std::optional<double> scan);
    void setCursorB(std::optional<double> scan);

signals:
    void hoverChanged();
    void cursorsChanged();
    // The user moved or zoomed (and so may no longer follow).
    void viewChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void init();
    void userMoved();
    void updateCursorReadout();
    void updateHover();
    void zoomToBox(const QRect &box);

    std::unique_ptr<PlotRenderer> own_;
    PlotRenderer *renderer_ = nullptr;
    StatsFn stats_;
    HoverReadout hover_;
    CursorReadout cursorReadout_;
    std::function<QString(double)> format_;

    // Channel c as the readouts name it, in its unit.
    struct ChannelText {
        QString name, unit;
        Calibration cal; // codes straight to the unit
        std::function<QString(double)> value;
    };
    ChannelText channelText(int c) const;
    double hoverX_ = -1;
    QPoint pressAt_;
    // Ctrl+drag: the box being drawn, from where the button went down.
    std::optional<QRect> box_;
    bool dragging_ = false;
    bool pressed_ = false;
};

} // namespace adcard
