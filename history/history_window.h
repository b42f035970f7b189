#pragma once
// The history window: the ring's waveforms with a legend, the values under
// the pointer, and a status line with the card's state. It observes the
// acquisition through BlockHook and never calls into it.
#include "acquisition/block_hook.h"
#include "driver/driver_status.h"
#include "history/history_plot.h"
#include "plot/plot_widget.h"

#include <QWidget>

#include <array>
#include <functional>
#include <string>

class QAction;
class QKeyEvent;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QTimer;
class QToolButton;

namespace adcard {

class RuleBanner;

// The driver part of the status line.
QString driverStatusText(const DriverStatus &status);

struct HistorySources {
    const QTimer *panelTimer = nullptr;       // acquiring while it runs
    std::function<int16_t()> blockCount;      // as the panel shows it
    std::function<DriverStatus()> driver;     // null: nothing to say
    std::string decimalSeparator = ".";
};

class HistoryWindow final : public QWidget, public BlockHook {
    Q_OBJECT

public:
    // `feed`: the ring as the hook fed it since the first Start; not owned.
    HistoryWindow(const LiveRingFeed &feed, HistorySources sources, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    HistoryPlot &plot() { return plot_; }
    // The plot on screen: zoom, pan and the cursors within the ring.
    PlotWidget *plotView() const { return plotView_; }
    // The status line: acquiring or stopped with the blocks received, and
    // the driver library.
    QLabel *statusLabel() const { return status_; }
    QLabel *driverLabel() const { return driver_; }
    QCheckBox *legendBox(int channel) const { return legend_[static_cast<std::size_t>(channel)]; }
    QLabel *hoverLabel() const { return hover_; }
    QLabel *extraStatusLabel() const { return extraStatus_; }
    // The figures between the plot's two cursors.
    QLabel *cursorLabel() const { return cursorText_; }
    // 暂停 (Space): holds the picture while the acquisition goes on.
    QAction *pauseAction() const { return pause_; }
    // 打开记录… (Ctrl+O): emits openRecordingRequested().
    QAction *openRecordingAction() const { return openRecording_; }

    // The armed rules' outputs and alarms; its acknowledged() is the
    // operator's 确认 (the button, or K anywhere in the window).
    RuleBanner *ruleBanner() const { return ruleBanner_; }

    // Room for other observers' controls (recording buttons), beside the
    // legend.
    QHBoxLayout *toolbarLayout() const { return toolbar_; }

    // The line of messages under the plot: a recording's failure, a file
    // closed. Stays until the next one.
    QLabel *messageLabel() const { return message_; }
    // Takes the marker's place now, as the key is pressed; the returned
    // function draws it there with its text once that is known.
    std::function<void(const QString &text)> stampMarker();

    // Re-read the panel's timer and block count, and the driver's state.
    void refreshStatus();
    void refreshDriver();
    // Shows the values of the plot column under a point of the plot view.
    void hoverAt(int x);

    // BlockHook
    void historyStarted(const AcqSettings &settings) override;
    void acquisitionStarted(const AcqSettings &settings) override;
    void blockStored(const StoredBlock &block) override;
    void tickEnded(const TickSummary &tick) override;
    void acquisitionStopped(StopReason reason) override;
    void ruleEvent(const RuleEvent &event) override;

public slots:
    // Another observer's status text (the recorder's), at the status line's end.
    void setExtraStatus(const QString &text);
    // What each channel measures: the legend's names, and the readouts in
    // each channel's unit.
    void setChannelUnits(const ChannelUnits &units);
    ChannelUnits channelUnits() const { return plot_.source().channelUnits(); }
    // A message for the operator: `problem` in red.
    void showMessage(const QString &text, bool problem);

signals:
    // The operator asked to look at a recording (打开记录…, Ctrl+O); whoever
    // owns the review window opens it.
    void openRecordingRequested();
    // The operator asked to name the channels and give their units (通道…).
    void channelUnitsRequested();
    // 规则… (R): whoever owns the rules opens their dialog.
    void rulesRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The constructor's steps, in order.
    QHBoxLayout *makeToolbar();
    void addToolActions(QHBoxLayout &top);
    // The channels' names and units and the band: on each channel's checkbox
    // (right button) and a key each.
    void addLegendMenu();
    void addHelp();
    void makePlotView();
    void arrange(QHBoxLayout *top);
    void updateDescription();

    HistoryPlot plot_;
    HistorySources sources_;
    PlotWidget *plotView_ = nullptr;
    QAction *pause_ = nullptr;
    QAction *openRecording_ = nullptr;
    QLabel *cursorText_ = nullptr;
    std::array<QCheckBox *, kPlotChannels> legend_{};
    QLabel *hover_ = nullptr;
    QHBoxLayout *toolbar_ = nullptr;
    QLabel *status_ = nullptr;
    QLabel *driver_ = nullptr;
    QLabel *extraStatus_ = nullptr;
    QLabel *message_ = nullptr;
    RuleBanner *ruleBanner_ = nullptr;
};

} // namespace adcard
