#pragma once
// The recording as the operator meets it, in one place: creates the recorder
// at the first recording, feeds it from the acquisition's block hook, owns its
// controls (记录…, 停止记录, 标记), its save dialog and its status line, reports
// its failures (standard error and that status line), and closes the file
// when the program is told to end. The UI never waits on the disk: a stop
// returns at once and the status says "closing" until the file is closed.
#include "recording/recording_session.h"

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QInputDialog;
class QTimer;
class QWidget;

namespace adcard {

class Acquisition;

// How a recording is split and what its series may delete.
struct SeriesPlan {
    SplitPolicy split;
    RetentionPolicy retention;
};
class TerminationRequests;

class RecordingControl final : public QObject {
    Q_OBJECT

public:
    // Makes the recorder, or says in `why` why it cannot.
    using RecorderFactory = std::function<RecordingSession *(QString &why)>;

    // `info` is asked at each start (the driver's path is known only once
    // the library is open); `endProgram` closes the panel cleanly.
    RecordingControl(Acquisition &acquisition, std::function<RecorderInfo()> info,
                     std::function<void()> endProgram, QObject *parent = nullptr);
    // A writer still closing after finish() gave up is left to the process's end.
    ~RecordingControl() override;

    // Instead of loading the module (tests).
    void setRecorderFactory(RecorderFactory make) { make_ = std::move(make); }
    // Whether the acquisition runs now: a recording asked for meanwhile
    // begins at the next block rather than at the next Start.
    void setAcquiring(std::function<bool()> acquiring) { acquiring_ = std::move(acquiring); }
    // Called as 标记 is pressed, before its text is asked for, so that a
    // window can show the marker where it was meant; what it returns is
    // called with the text once the marker is in the recording.
    using MarkerEcho = std::function<std::function<void(const QString &text)>()>;
    void setMarkerEcho(MarkerEcho echo) { echo_ = std::move(echo); }
    // Names the window of this program that has `path` open (a review), or
    // is empty: HDF5 would refuse the recorder that file after arming, so it
    // is refused before, as a file another panel records is.
    using OpenHere = std::function<QString(const QString &path)>;
    void setOpenHere(OpenHere openHere) { openHere_ = std::move(openHere); }

    // Arms the recorder for `path`, every block or (`eventsOnly`) only the
    // stretches capture rules ask for, in one file or a series. On failure
    // the message goes to standard error and the status line, and nothing
    // else changes.
    bool start(const QString &path, bool overwrite, bool eventsOnly = false, const SeriesPlan &series = {});
    // Returns at once; the file closes behind it.
    void stop();
    // Waits up to `limit` for the file to be closed, handling events
    // meanwhile so that the windows stay responsive; false if it is not.
    bool finish(std::chrono::milliseconds limit);

    bool active() const;  // armed or recording
    bool closing() const; // stopped, the file not yet closed
    RecordingSession *recorder() const { return recorder_.get(); }
    // One line for the history window: empty while there is nothing to say.
    QString statusText() const;

    // The buttons 记录… (a save dialog with the choice 连续 / 仅事件, then
    // start), 停止记录 and 标记 (key M:
    // takes the newest block at once, then asks for an optional text), in a
    // row for a toolbar; each enabled only when it can act.
    QWidget *makeControls(QWidget *parent);

signals:
    void statusChanged(const QString &text);
    // A failure the operator must see.
    void failed(const QString &message);
    // News the operator should see once: the file closed, a marker added.
    void told(const QString &message);
    // The recorder's news that stops nothing (an old file of the series
    // deleted, a disk that will fill): for the window and the run's log.
    void noticed(const QString &message);
    // A message told earlier that is no longer true (the file closed, once
    // the next recording begins): to be taken down where it still shows.
    void withdrawn(const QString &message);

private:
    void poll();
    void report(const QString &message);
    void syncButtons();
    void installTerminationHandler();
    void chooseFileAndStart(QWidget *parent);
    void mark(QWidget *parent);
    void addMarker(const MarkerStamp &stamp, const QString &text, const std::function<void(const QString &)> &shown);
    void takeOpenMarkers();
    // Loads the recorder module; null, with the reason in `why`, if it cannot.
    RecordingSession *makeRecorder(QString &why);

    Acquisition &acquisition_;
    std::function<RecorderInfo()> info_;
    std::function<void()> endProgram_;
    RecorderFactory make_;
    std::function<bool()> acquiring_;
    MarkerEcho echo_;
    OpenHere openHere_;
    QString closingFile_; // told when it is closed
    std::unique_ptr<RecordingSession> recorder_;
    QTimer *poll_ = nullptr;
    TerminationRequests *termination_ = nullptr; // while a recording may need closing
    // Children of the window that shows them.
    QPointer<QPushButton> record_;
    QPointer<QPushButton> stop_;
    QPointer<QPushButton> mark_;
    QString lastMessage_;
    QString lastStatus_;
    bool eventsOnly_ = false; // the recording armed last
    QString splitText_;       // its split ("1h"); empty: one file
    QString closedNote_; // told, and still true until the next recording
    // Markers whose text is being typed.
    std::vector<QPointer<QInputDialog>> markerDialogs_;
};

// "12.3 MiB" and the like.
QString byteSizeText(qint64 bytes);
// "磁盘约 12 分钟后写满" when the recording's disk fills within the hour;
// empty otherwise (or when it is not known: negative).
QString timeToFullText(double seconds);

} // namespace adcard
