#pragma once
// 记录回放: one recording file, its runs in a list, the selected run's
// waveforms, markers and digital inputs, two cursors with what lies between
// them, and the export of that range to CSV or of the view to PNG.
#include "recording/recording_reader.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QTableWidget;
class QTimer;
class QTreeWidget;

namespace adcard {

class ReviewPlot;
class DigitalStrip;

class ReviewWindow final : public QWidget {
    Q_OBJECT
public:
    // `run` is the reader's run to show first (see openFirstRun).
    ReviewWindow(const QString &path, std::unique_ptr<RecordingReader> reader, std::unique_ptr<RecordedRun> run,
                 QWidget *parent = nullptr);
    ~ReviewWindow() override;

    static QString windowName();

    ReviewPlot &plot() { return *plot_; }
    const RecordedRun *run() const { return run_.get(); }
    QTreeWidget *runList() const { return runs_; }
    QTableWidget *statsTable() const { return stats_; }
    QLabel *messageLabel() const { return message_; }
    QCheckBox *followBox() const { return follow_; }

    // Shows run `number`; on failure keeps the present one and says why.
    bool showRun(int number);
    // The range between the cursors (the view without both), with a
    // progress dialog; false with a message when it failed or was cancelled.
    bool exportCsv(const QString &path);
    bool exportPng(const QString &path);
    // Takes in what a recorder flushed since (a file still being written).
    void refresh();
    // The scans a CSV export writes now: [first, last).
    std::pair<int64_t, int64_t> exportRange() const;

private:
    void fillRunList();
    void updateStats();
    void updateHover(int x);
    void pollSummaries();
    void say(const QString &text, bool problem);
    void askCsv();
    void askPng();

    QString path_;
    std::unique_ptr<RecordingReader> reader_;
    std::unique_ptr<RecordedRun> run_;
    int runNumber_ = 0;
    QTreeWidget *runs_ = nullptr;
    ReviewPlot *plot_ = nullptr;
    DigitalStrip *strip_ = nullptr;
    QWidget *view_ = nullptr; // the plot and the strip: what a PNG shows
    QLabel *readout_ = nullptr;
    QLabel *delta_ = nullptr;
    QTableWidget *stats_ = nullptr;
    QLabel *message_ = nullptr;
    QProgressBar *summaries_ = nullptr;
    QCheckBox *follow_ = nullptr;
    QTimer *followTimer_ = nullptr;
    QTimer *summaryTimer_ = nullptr;
};

} // namespace adcard
