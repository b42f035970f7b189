#pragma once
// 记录回放: one recording file, its runs in a list, the selected run's
// waveforms, markers and digital inputs, two cursors with what lies between
// them, and the export of that range to CSV or of the view to PNG.
#include "fft/transform.h"
#include "recording/recording_reader.h"

#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateTime;
class QHBoxLayout;
class QImage;
class QLabel;
class QProgressBar;
class QTableWidget;
class QTimer;
class QTreeWidget;

namespace adcard {

class PlotWidget;
struct PlotMarker;
class SearchPane;
class SpectrumPane;

class ReviewWindow final : public QWidget {
    Q_OBJECT
public:
    // `run` is the reader's run to show first (see openFirstRun); `transform`
    // makes the spectra (the recording module's FFTW).
    ReviewWindow(const QString &path, std::unique_ptr<RecordingReader> reader, std::unique_ptr<RecordedRun> run,
                 query::MakeTransformFn transform = nullptr, QWidget *parent = nullptr);
    ~ReviewWindow() override;

    static QString windowName();
    // The recording it reviews, as it was opened.
    const QString &path() const { return path_; }

    PlotWidget &plot() { return *plot_; }
    const RecordedRun *run() const { return run_.get(); }
    QTreeWidget *runList() const { return runs_; }
    QTableWidget *statsTable() const { return stats_; }
    QLabel *messageLabel() const { return message_; }
    SearchPane *searchPane() const { return search_; }
    SpectrumPane *spectrumPane() const { return spectrum_; }

    // Shows run `number`; on failure keeps the present one and says why.
    bool showRun(int number);
    // The range between the cursors (the view without both), with a
    // progress dialog; false with a message when it failed or was cancelled.
    bool exportCsv(const QString &path);
    bool exportPng(const QString &path);
    // Centres the next (+1) or previous (-1) marker, keeping the zoom
    // (keys N and P); false when there is none that way.
    bool jumpToMarker(int direction);
    // Centres the next (+1) or previous (-1) hole (keys ] and [), keeping
    // the zoom; false when there is none that way.
    bool jumpToHole(int direction);
    // Centres the scan at wall-clock `when`, keeping the zoom; false when
    // the run does not reach it.
    bool goToTime(const QDateTime &when);
    // Centres `scan`, keeping the zoom.
    void centreOn(double scan);
    // Takes in what a recorder flushed since (a file still being written).
    void refresh();
    // The scans a CSV export writes now: [first, last).
    std::pair<int64_t, int64_t> exportRange() const;
    // While a dialog's or an export's own event loop runs for this window
    // (or one of its parts), deleting it would delete what that loop is
    // using: close() it instead. The loop ends at once, and the window goes
    // when it has returned (or, for a part's dialog, when deleted later
    // with nothing running).
    bool inOwnLoop() const;

signals:
    // 打开记录… (Ctrl+O) here: whoever opened this window opens another.
    void openRecordingRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class OwnLoop;
    // The constructor's steps, in order.
    QHBoxLayout *makeToolbar();
    void addHelp();
    QComboBox *makeMarkerList();
    void addViewKeys(QHBoxLayout &top);
    void makePlotAndFigures();
    QWidget *makeCentre();
    void arrange(QHBoxLayout *top, QWidget *centre);
    void connectTimersAndViews();
    void showFirst(std::unique_ptr<RecordedRun> run);
    void fillRunList();
    // Gives the plot the run's markers, digital inputs and start time.
    void showRunDetails();
    // The rules' events of the run, as markers beside the operator's.
    void addRuleEvents(std::vector<PlotMarker> &markers);
    // The digital inputs of the range shown.
    void showDigital();
    void updateStats();
    void updateHover();
    void pollSummaries();
    void say(const QString &text, bool problem);
    void askCsv();
    void askTime();
    // The plot as exported: with a title and the channels' colours.
    QImage titledPicture() const;
    void askPng();

    QString path_;
    std::unique_ptr<RecordingReader> reader_;
    std::unique_ptr<RecordedRun> run_;
    int runNumber_ = 0;
    static constexpr int kRunRowsShown = 4; // the run list's most rows without scrolling
    QTreeWidget *runs_ = nullptr;
    SearchPane *search_ = nullptr; // 搜索 (Ctrl+F), beside the plot
    SpectrumPane *spectrum_ = nullptr; // 频谱 (F), under the plot
    PlotWidget *plot_ = nullptr;
    std::vector<int64_t> markerScans_;
    QLabel *readout_ = nullptr;
    QLabel *delta_ = nullptr;
    QTableWidget *stats_ = nullptr;
    QLabel *message_ = nullptr;
    QLabel *keys_ = nullptr;
    QProgressBar *summaries_ = nullptr;
    QCheckBox *follow_ = nullptr;
    QComboBox *markerList_ = nullptr;
    QHBoxLayout *legend_ = nullptr;
    QTimer *followTimer_ = nullptr;
    QTimer *summaryTimer_ = nullptr;
    bool statsPending_ = false; // the cursors' figures wait for the summaries
    int ownLoops_ = 0;
    bool closing_ = false;     // closed while in its own loop
    bool deleteLater_ = false; // ... and to be deleted once out of it
};

} // namespace adcard
