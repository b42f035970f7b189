#pragma once
// A run nobody watches (--start, --stop-after, --record from a script or a
// service): presses the panel's own buttons when asked, and afterwards tells
// whether the recording kept every block, for the exit status.
#include "acquisition/block_hook.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

class QDateTime;
class QString;
class QTimer;

namespace adcard {

class FrmMultiBuf;
class RecordingSession;

struct UnattendedOptions {
    bool start = false; // press Start once the window shows
    std::optional<std::chrono::milliseconds> stopAfter; // then Stop and Exit
    bool record = false; // a recording was asked for: the exit status reports on it
};

// A recorder's notice as a line of the run's log (standard error, which a
// run nobody watches sends to a file): the local time first, since the log
// is read hours later, "adcard-panel: 2026-03-01 03:12:05 <notice>\n".
std::string noticeLine(const QDateTime &when, const QString &notice);

class UnattendedRun final : public QObject, public BlockHook {
public:
    // `session` gives the recorder once it exists (null before). Add the run
    // to the acquisition's block hooks so that it sees blocks the card
    // counted but the panel could not fetch.
    UnattendedRun(FrmMultiBuf &panel, UnattendedOptions options,
                  std::function<const RecordingSession *()> session);
    ~UnattendedRun() override;

    // 0, or kExitRecordingLost when a recording was asked for and it lost
    // blocks, stopped on an error, ended early or (with --start) never
    // began; then `why` says which.
    int exitStatus(std::string &why) const;
    // The recording ended before it was asked to (a lost driver host, say);
    // the first reason is kept.
    void cutShort(const std::string &why);
    // A rule asked to stop the acquisition: Stop, then Exit, as --stop-after
    // would, and the run has done what it was asked.
    void stopByRule(const std::string &rule);
    // A rule closed the recording: acquisition goes on, and the recording
    // ending before --stop-after is what was asked.
    void recordingStoppedByRule(const std::string &rule);

    // BlockHook
    void acquisitionStarted(const AcqSettings &settings) override;
    void blockMissed(int64_t fetched) override;
    void acquisitionStopped(StopReason reason) override;

private:
    void press(const char *button);

    FrmMultiBuf &panel_;
    UnattendedOptions options_;
    std::function<const RecordingSession *()> session_;
    QTimer *stopTimer_ = nullptr;
    bool started_ = false;
    bool stopping_ = false; // --stop-after has come, or a rule stopped the run
    bool recordingClosedByRule_ = false;
    std::string cutShort_;
    int64_t missedWhileRecording_ = 0;
};

} // namespace adcard
