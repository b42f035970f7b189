#include "panel/unattended_run.h"

#include "panel/command_line.h"
#include "panel/frm_multibuf.h"
#include "recording/recording_session.h"

#include <QDateTime>
#include <QPushButton>
#include <QString>
#include <QTimer>

namespace adcard {

std::string noticeLine(const QDateTime &when, const QString &notice)
{
    QString text = notice;
    // One notice, one line, whatever the recorder's text holds.
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return (QStringLiteral("adcard-panel: ") + when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + text +
            QLatin1Char('\n'))
        .toLocal8Bit()
        .toStdString();
}

UnattendedRun::UnattendedRun(FrmMultiBuf &panel, UnattendedOptions options,
                             std::function<const RecordingSession *()> session)
    : panel_(panel), options_(options), session_(std::move(session))
{
    // Both wait for the event loop, that is until the window has shown.
    if (options_.start)
        QTimer::singleShot(0, this, [this] { press("cmdStart"); });
    if (options_.stopAfter) {
        stopTimer_ = new QTimer(this);
        stopTimer_->setSingleShot(true);
        // A coarse timer may be 5 % late: 24 minutes in 8 hours.
        stopTimer_->setTimerType(Qt::PreciseTimer);
        stopTimer_->setInterval(*options_.stopAfter);
        connect(stopTimer_, &QTimer::timeout, this, [this] {
            stopping_ = true;
            const RecordingSession *s = session_ ? session_() : nullptr;
            if (started_ && s && s->status().state != RecorderState::Recording && !recordingClosedByRule_)
                cutShort("the recording ended before --stop-after");
            press("cmdStop");
            press("cmdExit");
        });
        stopTimer_->start();
    }
}

UnattendedRun::~UnattendedRun() = default;

void UnattendedRun::press(const char *button)
{
    // The button itself, so that everything a click sets off happens.
    if (auto *b = qobject_cast<QPushButton *>(panel_.control(QString::fromLatin1(button))))
        b->click();
}

void UnattendedRun::stopByRule(const std::string &)
{
    stopping_ = true;
    if (stopTimer_)
        stopTimer_->stop();
    press("cmdStop");
    press("cmdExit");
}

void UnattendedRun::recordingStoppedByRule(const std::string &)
{
    recordingClosedByRule_ = true;
}

void UnattendedRun::acquisitionStarted(const AcqSettings &)
{
    started_ = true;
}

void UnattendedRun::cutShort(const std::string &why)
{
    if (cutShort_.empty())
        cutShort_ = why;
}

void UnattendedRun::acquisitionStopped(StopReason reason)
{
    // Before --stop-after, whoever or whatever stopped it cut the recording short.
    if (options_.stopAfter && !stopping_ && started_)
        cutShort(reason == StopReason::Stop ? "the acquisition was stopped before --stop-after"
                                            : "the program was ended before --stop-after");
}

void UnattendedRun::blockMissed(int64_t)
{
    // A block the card counted but the panel could not fetch is a hole in
    // the recording, though the recorder never saw it.
    const RecordingSession *s = session_ ? session_() : nullptr;
    if (s && s->status().state == RecorderState::Recording)
        ++missedWhileRecording_;
}

int UnattendedRun::exitStatus(std::string &why) const
{
    if (!options_.record)
        return kExitOk;
    const RecordingSession *s = session_ ? session_() : nullptr;
    if (!s) {
        why = "the recorder could not be loaded";
        return kExitRecordingLost;
    }
    const RecorderStatus st = s->status();
    if (st.state == RecorderState::Failed || st.errors > 0)
        why = "the recording stopped on an error: " + st.lastError;
    else if (st.blocksDropped > 0 || missedWhileRecording_ > 0)
        why = "the recording lacks " + std::to_string(st.blocksDropped + missedWhileRecording_) + " blocks (" +
              std::to_string(missedWhileRecording_) + " the card could not hand over, " +
              std::to_string(st.blocksDropped) + " dropped by the recorder)";
    else if (!cutShort_.empty())
        why = cutShort_;
    else if (options_.start && !started_)
        why = "the acquisition never started, so nothing was recorded";
    return why.empty() ? kExitOk : kExitRecordingLost;
}

} // namespace adcard
