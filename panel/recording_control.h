#pragma once
// Connects the recorder to the program: creates it at the first recording,
// feeds it from the acquisition's block hook, reports its state and its
// failures (standard error, the history window's status line), and closes
// the file when the program is told to end.
#include "recording/recording_session.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace adcard {

class Acquisition;

class RecordingControl final : public QObject {
    Q_OBJECT

public:
    // `info` is asked at each start (the driver's path is known only once
    // the library is open); `endProgram` closes the panel cleanly.
    RecordingControl(Acquisition &acquisition, std::function<RecorderInfo()> info,
                     std::function<void()> endProgram, QObject *parent = nullptr);
    ~RecordingControl() override;

    // Arms the recorder for `path`. On failure the message goes to standard
    // error and the status line, and nothing else changes.
    bool start(const QString &path, bool overwrite);
    void stop();

    bool active() const; // armed or recording
    RecordingSession *recorder() const { return recorder_.get(); }
    // One line for the history window: empty while there is nothing to say.
    QString statusText() const;

signals:
    void statusChanged(const QString &text);
    // A failure the operator must see.
    void failed(const QString &message);

private:
    void poll();
    void report(const QString &message);
    void installTerminationHandler();
    // Loads the recorder module; null, with the reason in `why`, if it cannot.
    RecordingSession *makeRecorder(QString &why);

    Acquisition &acquisition_;
    std::function<RecorderInfo()> info_;
    std::function<void()> endProgram_;
    std::unique_ptr<RecordingSession> recorder_;
    QTimer *poll_ = nullptr;
    QSocketNotifier *termination_ = nullptr;
    QString lastMessage_;
    QString lastStatus_;
};

// "12.3 MiB" and the like.
QString byteSizeText(qint64 bytes);

} // namespace adcard
