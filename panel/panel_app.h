#pragma once
// The program's whole start-up path, shared by main and by the tests so
// that both run exactly the same code.
#include "driver/card_driver.h"
#include "driver/entries.h"
#include "driver/host_driver.h"
#include "recording/recording_session.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QProcess;
class QWidget;

namespace adcard {

class DriverBackend;
class FrmMultiBuf;
class RecordingControl;
class RuleControl;
class HistoryWindow;
class LiveRingFeed;
class ReviewWindow;
class UnattendedRun;
struct DllDef;

// The window's font: 165 twips (8.25 pt, 11 px at 96 dpi), the largest
// whole-pixel size at which the longest captions in the frames still end
// before the fixed positions of the texts beside them.
inline constexpr int kPanelFontTwips = 165;
// The font's pixel size at a logical dpi.
int panelFontPixels(double dpi);

// Call before the QApplication is constructed.
void prepareApplication();
// Call once the QApplication exists, before any widget is made.
void applyApplicationLook();

// How long Exit and the close box wait for the recording's file to close.
inline constexpr std::chrono::milliseconds kRecordingCloseLimit{5000};

struct PanelOptions {
    // Null: open the card's driver library through a DriverLoader, or
    // through a driver host with `host`.
    CardDriver *driver = nullptr;
    std::string library = kLibraryName;
    std::optional<HostOptions> host = {}; // the library is host->library, not `library`
    bool history = false; // open the history window beside the panel at once
    std::string record = {}; // arm the recorder for this file; empty: no
    bool overwrite = false;
    bool eventsOnly = false; // only the stretches capture rules ask for
    SplitPolicy split = {};         // a series of files instead of one
    RetentionPolicy retention = {}; // what the series may delete
    bool start = false; // press Start once the window shows
    std::string rules = {}; // arm the rules of this file; empty: none
    std::optional<std::chrono::milliseconds> stopAfter = {}; // then press Stop and Exit
    // Where the recorder's notices go as lines (noticeLine), besides the
    // history window; null: standard error.
    std::function<void(const std::string &line)> log = {};
    // Reviews the file being recorded in a process of its own (--open);
    // empty: this program.
    QString reviewProgram = {};
};

// Owns the driver backend, the program-wide state and the window; creating
// it wires the backend's failures to the window, runs the load step and
// shows the window.
class PanelProgram {
public:
    explicit PanelProgram(const PanelOptions &options = {});
    ~PanelProgram();
    PanelProgram(const PanelProgram &) = delete;
    PanelProgram &operator=(const PanelProgram &) = delete;

    FrmMultiBuf &window() { return *window_; }
    // The loader or the driver host; null with PanelOptions::driver.
    DriverBackend *loader() { return loader_.get(); }

    // Opens the history window, creating it the first time, or raises it.
    HistoryWindow &openHistory();
    // Null until the history window is first opened.
    HistoryWindow *history() { return history_.get(); }
    // Created at the first recording.
    RecordingControl &recording();
    // A review window on `path`, closed with the panel; a file that cannot
    // be reviewed gets a message box instead (null). The file this panel is
    // recording is reviewed, and followed, by this program in a process of
    // its own (null here too), also closed with the panel.
    ReviewWindow *openReview(const QString &path);
    // Asks for a file, then as openReview.
    ReviewWindow *askAndOpenReview();

    // Waits up to `limit` for the recording to close, keeping the windows
    // responsive; false if it has not.
    bool finishRecording(std::chrono::milliseconds limit);
    // The program's exit status once the event loop has ended (command_line.h),
    // with a line for standard error when it is not 0.
    int exitStatus(std::string &why) const;
    // The --record file could not be armed: like any file that cannot be
    // recorded, it ends the program (status 2) before any Start.
    bool recordRefused() const { return recordRefused_; }
    // The --rules file could not be armed (why, for standard error): the
    // program ends with status 2 before any Start.
    const std::string &rulesRefused() const { return rulesRefused_; }
    RuleControl &rules() { return *rules_; }

    // Whether the recorder holds `path` open: HDF5 opens a file once in a
    // process, with one set of flags, so a reader here would be refused it.
    bool recordingInto(const QString &path) const;
    // The channels' names and units, in a dialog over the history window.
    void askChannelUnits();

private:
    class PanelEvents;
    void closeReviews();
    void reviewElsewhere(const QString &path, QWidget *over);

    void driverFailed(const DriverFailure &failure);
    // The rules' control, and its banner and dialog in the history window
    // (panel_rules.cpp).
    void makeRuleControl();
    void wireRulesTo(HistoryWindow &history);
    void askRules();

    std::unique_ptr<DriverBackend> loader_;
    std::unique_ptr<DllDef> dll_;
    // The ring as the hook hands it over, for a history window opened later.
    // Before the panel: it stays while the acquisition may still call it.
    std::unique_ptr<LiveRingFeed> ringFeed_;
    std::unique_ptr<FrmMultiBuf> window_;
    // After the panel: goes first, while the acquisition it observes still exists.
    std::unique_ptr<HistoryWindow> history_;
    std::unique_ptr<RecordingControl> recording_;
    std::unique_ptr<PanelEvents> events_;
    std::unique_ptr<UnattendedRun> unattended_;
    QString reviewProgram_;
    std::vector<std::unique_ptr<QProcess>> reviewProcesses_;
    bool recordRefused_ = false;
    std::function<void(const std::string &)> log_;
    std::unique_ptr<RuleControl> rules_;
    std::string rulesRefused_;
};

// Asks for a recording over `over` and opens it in a review window of its
// own (null if none was chosen or it cannot be shown); with `panel`, the file
// that panel records is reviewed in a process of its own instead.
ReviewWindow *askAndOpenReviewWindow(QWidget *over, PanelProgram *panel);

// What main does: reads the command line, then runs the program; returns
// the program's exit status.
int runPanel(int argc, char **argv);

} // namespace adcard
