#pragma once
// What one pixel of the plot holds and which summary level answers it
// ("1 像素 = 2,048 个扫描 · 第 2 层"), in the plot's corner, so that a
// zoomed-out day is read as what it is.
#include <QLabel>

#include <functional>

namespace adcard {

class PlotWidget;
class RecordedRun;

class ViewScaleLabel final : public QLabel {
    Q_OBJECT
public:
    ViewScaleLabel(PlotWidget *plot, std::function<const RecordedRun *()> run);

    // "1 像素 = N 个扫描 · 第 L 层" for `scansPerPixel` over `run`'s levels.
    static QString text(double scansPerPixel, const RecordedRun &run);

private:
    void update();

    PlotWidget *plot_;
    std::function<const RecordedRun *()> run_;
};

} // namespace adcard
