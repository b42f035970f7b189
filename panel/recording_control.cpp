#include "panel/recording_control.h"

#include "acquisition/acquisition.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace adcard {

namespace {

// SIGTERM, SIGINT and SIGHUP end the program the way the close box does, so
// that the recording is closed with every block fetched before. The handler
// only writes a byte; the event loop does the rest.
int gTerminationPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gTerminationPipe[1], &byte, 1);
}

} // namespace

QString byteSizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(static_cast<double>(bytes) / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

RecordingControl::RecordingControl(Acquisition &acquisition, std::function<RecorderInfo()> info,
                                   std::function<void()> endProgram, QObject *parent)
    : QObject(parent), acquisition_(acquisition), info_(std::move(info)), endProgram_(std::move(endProgram))
{
    poll_ = new QTimer(this);
    // Once a second is enough for a person; the status line re-lays out
    // its text on every change.
    poll_->setInterval(1000);
    connect(poll_, &QTimer::timeout, this, &RecordingControl::poll);
}

RecordingControl::~RecordingControl()
{
    if (recorder_) {
        acquisition_.removeBlockHook(*recorder_);
        recorder_->stop();
    }
    if (termination_) {
        for (int sig : {SIGTERM, SIGINT, SIGHUP})
            std::signal(sig, SIG_DFL);
    }
}

void RecordingControl::installTerminationHandler()
{
    if (termination_ || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gTerminationPipe) != 0)
        return;
    termination_ = new QSocketNotifier(gTerminationPipe[0], QSocketNotifier::Read, this);
    connect(termination_, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(gTerminationPipe[0], &byte, 1);
        if (endProgram_)
            endProgram_();
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

RecordingSession *RecordingControl::makeRecorder(QString &why)
{
    // Beside the program as installed, else where the build put it.
    const QStringList candidates{
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(ADPANEL_RECORDER_FROM_BINDIR)),
        QStringLiteral(ADPANEL_RECORDER_BUILT),
    };
    for (const QString &file : candidates) {
        if (!QFileInfo::exists(file))
            continue;
        QLibrary module(file);
        // Never unloaded: its writer thread may outlive any one recording.
        module.setLoadHints(QLibrary::PreventUnloadHint);
        auto make = reinterpret_cast<MakeRecorderFn>(module.resolve(kMakeRecorderEntry));
        if (!make) {
            why = QStringLiteral("cannot load the recorder %1: %2").arg(file, module.errorString());
            return nullptr;
        }
        // A crash or kill -9 loses at most the last second.
        return make(64, 1000);
    }
    why = QStringLiteral("the recorder module is not installed (looked for %1)").arg(candidates.join(QStringLiteral(", ")));
    return nullptr;
}

bool RecordingControl::start(const QString &path, bool overwrite)
{
    if (!recorder_) {
        QString why;
        recorder_.reset(makeRecorder(why));
        if (!recorder_) {
            report(QStringLiteral("记录失败：") + why);
            return false;
        }
        acquisition_.addBlockHook(*recorder_);
        installTerminationHandler();
    }
    const std::string error = recorder_->arm(path.toStdString(), overwrite, info_ ? info_() : RecorderInfo{});
    if (!error.empty()) {
        report(QStringLiteral("记录失败：") + QString::fromStdString(error));
        return false;
    }
    lastMessage_.clear();
    poll_->start();
    poll();
    return true;
}

void RecordingControl::stop()
{
    if (!recorder_)
        return;
    recorder_->stop();
    poll();
    poll_->stop();
}

bool RecordingControl::active() const
{
    if (!recorder_)
        return false;
    const RecorderState s = recorder_->status().state;
    return s == RecorderState::Armed || s == RecorderState::Recording;
}

QString RecordingControl::statusText() const
{
    if (!recorder_)
        return {};
    const RecorderStatus s = recorder_->status();
    const QString name = QFileInfo(QString::fromStdString(s.file)).fileName();
    switch (s.state) {
    case RecorderState::Idle:
        return lastMessage_;
    case RecorderState::Failed:
        return QStringLiteral("记录失败：") + QString::fromStdString(s.lastError);
    case RecorderState::Armed:
        return QStringLiteral("记录 %1：等待开始采集").arg(name);
    case RecorderState::Recording:
        break;
    }
    QString text = QStringLiteral("记录 %1：%2 块，%3").arg(name).arg(s.blocksWritten).arg(byteSizeText(s.fileSize));
    if (s.blocksDropped > 0)
        text += QStringLiteral("，丢弃 %1 块").arg(s.blocksDropped);
    return text;
}

void RecordingControl::report(const QString &message)
{
    lastMessage_ = message;
    std::fprintf(stderr, "adcard-panel: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    emit failed(message);
    lastStatus_ = statusText();
    emit statusChanged(lastStatus_);
}

void RecordingControl::poll()
{
    if (!recorder_)
        return;
    while (const auto error = recorder_->takeError())
        report(QStringLiteral("记录失败：") + QString::fromStdString(*error));
    const QString text = statusText();
    if (text != lastStatus_) {
        lastStatus_ = text;
        emit statusChanged(text);
    }
    if (!active())
        poll_->stop();
}

} // namespace adcard
