#pragma once
// 频谱: the amplitude spectrum of the scans between the cursors (the view
// without both), drawn: one channel or all, amplitude in the unit or in dB,
// frequency linear or logarithmic, the highest peaks and the harmonics of
// the highest marked, the bin under the pointer read out, and the bins
// exported to CSV. The transform runs in a thread of its own.
#include "plot/spectrum_plot.h"
#include "query/spectrum.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace adcard {

class RecordedRun;

// The scans a spectrum is asked for, [first, end), and whether they are
// the cursors' (else the view's).
struct SpectrumRange {
    int64_t first = 0, end = 0;
    bool cursors = false;
};

class SpectrumPane final : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumPane(std::function<SpectrumRange()> range, QWidget *parent = nullptr);
    ~SpectrumPane() override;

    // What a spectrum is transformed with (the recording module's FFTW);
    // without it the pane says so.
    void setTransform(query::MakeTransformFn make) { transform_ = make; }
    // The run asked; null stops and forgets. The run must outlive this
    // call's successor.
    void setRun(const RecordedRun *run);
    // Transforms the range now between the cursors.
    void start();
    // Waits for the transform in progress (tests; the window never waits).
    void wait();

    const SpectrumPlot &plot() const { return plot_; }
    // The picture as drawn in the pane.
    QRect plotArea() const;
    QLabel *stretchLabel() const { return stretch_; }
    QLabel *readoutLabel() const { return readout_; }
    QComboBox *channelBox() const { return channel_; }
    // The readout of the bin under x (in the picture), as the pointer shows it.
    QString readoutAt(double x) const;
    // The shown bins as CSV: frequency, then each channel's amplitude and dB.
    QByteArray csv() const;
    bool exportCsv(const QString &path, QString &why) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stop();
    void show(query::SpectrumResult result, SpectrumRange range, int generation);
    void showChannels();
    QString stretchText(const query::SpectrumResult &r, const SpectrumRange &range) const;
    void askCsv();

    std::function<SpectrumRange()> range_;
    const RecordedRun *run_ = nullptr;
    query::MakeTransformFn transform_ = nullptr;
    query::SpectrumResult result_;
    SpectrumPlot plot_;
    QWidget *canvas_ = nullptr;
    QComboBox *channel_ = nullptr;
    QComboBox *scale_ = nullptr;
    QCheckBox *log_ = nullptr;
    QPushButton *go_ = nullptr;
    QPushButton *csv_ = nullptr;
    QLabel *stretch_ = nullptr;
    QLabel *readout_ = nullptr;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    int generation_ = 0;
};

} // namespace adcard
