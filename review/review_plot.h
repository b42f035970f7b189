#pragma once
// The review's waveforms: a recorded run drawn from its summaries, one
// min/max bar and mean per pixel column, with the two cursors and the
// run's markers over it. Zoom with the wheel or +/-, pan by dragging or
// with the arrow keys, Home for the whole run, Y fits the volts to what is
// visible, N/P jump to the next/previous marker; a click places cursor A,
// a right or Shift click cursor B.
#include "recording/recording_reader.h"

#include <QWidget>

#include <array>
#include <optional>
#include <vector>

namespace adcard {

class ReviewPlot final : public QWidget {
    Q_OBJECT
public:
    explicit ReviewPlot(QWidget *parent = nullptr);

    // Null shows nothing. A new run shows whole; `keepView` keeps the
    // present range (a run that grew while followed).
    void setRun(const RecordedRun *run, bool keepView = false);
    void setMarkers(std::vector<RecordedMarker> markers);

    double viewFirst() const { return first_; }
    double viewLast() const { return last_; }
    void setView(double first, double last);
    void zoom(double factor, double anchor);
    void pan(double widths);
    void showAll();
    void fitVolts();

    std::optional<int64_t> cursor(int which) const { return cursors_[static_cast<std::size_t>(which)]; }
    void setCursor(int which, int64_t scan);
    // Moves the view onto the next (+1) or previous (-1) marker; false
    // when there is none that way.
    bool jumpToMarker(int direction);

    // Where traces are drawn, and the scan under a widget x.
    QRect plotArea() const;
    double scanAt(double x) const;
    double xOf(double scan) const;
    // Each channel under widget x as last drawn (empty outside the plot).
    std::vector<ColumnSummary> columnAt(int x) const;

signals:
    void viewChanged();
    void cursorsChanged();
    // The pointer moved to widget x, or left (-1).
    void hovered(int x);

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    double yOf(double volts) const;
    void summariseView(int columns);

    const RecordedRun *run_ = nullptr;
    double first_ = 0, last_ = 1;          // scans shown, [first_, last_)
    double voltsLow_ = -5.5, voltsHigh_ = 5.5;
    std::array<std::optional<int64_t>, 2> cursors_;
    std::vector<RecordedMarker> markers_;
    std::vector<ColumnSummary> columns_; // as last drawn: column after column
    int columnCount_ = 0;
    QPoint pressAt_;
    double pressFirst_ = 0, pressLast_ = 0;
    bool dragged_ = false;
};

} // namespace adcard
