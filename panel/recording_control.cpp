#include "panel/recording_control.h"

#include "panel/command_line.h"
#include "panel/recording_module.h"
#include "panel/series_choice.h"
#include "panel/termination.h"

#include "acquisition/acquisition.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <utility>
#include <thread>

namespace adcard {

QString byteSizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(static_cast<double>(bytes) / 1024.0, 0, 'f', 1);
    if (bytes < int64_t{1} << 30)
        return QStringLiteral("%1 MiB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
    return QStringLiteral("%1 GiB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0), 0, 'f', 1);
}

QString timeToFullText(double seconds)
{
    // Only when it is close enough to act on; the recorder's notice says it
    // once as well.
    if (seconds < 0 || seconds >= 3600)
        return {};
    if (seconds < 60)
        return QStringLiteral("磁盘不到 1 分钟后写满");
    return QStringLiteral("磁盘约 %1 分钟后写满").arg(static_cast<int>(seconds / 60));
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
        if (active())
            recorder_->beginStop();
        // A writer stuck on the disk keeps its recorder; the program is ending.
        if (recorder_->status().state == RecorderState::Closing)
            (void)recorder_.release();
        else
            recorder_->stop();
    }
    delete termination_;
}

void RecordingControl::installTerminationHandler()
{
    if (termination_)
        return;
    termination_ = new TerminationRequests(endProgram_, this);
    if (!termination_->installed()) { // tried again at the next recording
        delete termination_;
        termination_ = nullptr;
    }
}

RecordingSession *RecordingControl::makeRecorder(QString &why)
{
    if (make_)
        return make_(why);
    auto make = reinterpret_cast<MakeRecorderFn>(recorderModuleEntry(kMakeRecorderEntry, why));
    // A crash or kill -9 loses at most the last second. 256 slots (2 MB of
    // 4 x 1000-scan blocks) hold 25 s of the card at its 10 blocks a second,
    // and all that one tick brings from a card a hundred times as fast,
    // with the stall of a series' boundary on top.
    return make ? make(256, 1000) : nullptr;
}

bool RecordingControl::start(const QString &path, bool overwrite, bool eventsOnly, const SeriesPlan &series)
{
    // A series writes beside `path`, never into it.
    if (const QString window = openHere_ && !series.split.any() ? openHere_(path) : QString(); !window.isEmpty()) {
        report(QStringLiteral("记录失败：'%1' is open in the review window \"%2\"; close it to record into it")
                   .arg(path, window));
        return false;
    }
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
    RecorderInfo info = info_ ? info_() : RecorderInfo{};
    info.eventsOnly = eventsOnly;
    // A series never replaces a file, and deletes only files of a series.
    if (series.split.any()) {
        overwrite = false;
        info.split = series.split;
        info.retention = series.retention;
    }
    if (const std::string why = keepFreeProblem(path, info.retention.keepFreeBytes); !why.empty()) {
        report(QStringLiteral("记录失败：保留空闲空间 ") + QString::fromStdString(why));
        return false;
    }
    const std::string error = recorder_->arm(path.toStdString(), overwrite, info);
    if (!error.empty()) {
        report(QStringLiteral("记录失败：") + QString::fromStdString(error));
        return false;
    }
    if (acquiring_ && acquiring_())
        recorder_->joinAtNextBlock(acquisition_.dll().settings);
    eventsOnly_ = eventsOnly;
    splitText_ = QString::fromStdString(info.split.text);
    lastMessage_.clear();
    // The last recording's closing note is old news once the next begins.
    if (!closedNote_.isEmpty())
        emit withdrawn(std::exchange(closedNote_, {}));
    poll();
    return true;
}

void RecordingControl::stop()
{
    if (!recorder_)
        return;
    takeOpenMarkers();
    if (active())
        closingFile_ = QString::fromStdString(recorder_->status().file);
    recorder_->beginStop();
    poll();
}

bool RecordingControl::finish(std::chrono::milliseconds limit)
{
    if (!recorder_)
        return true;
    if (active())
        stop();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (closing() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    poll();
    return !closing();
}

bool RecordingControl::active() const
{
    if (!recorder_)
        return false;
    const RecorderState s = recorder_->status().state;
    return s == RecorderState::Armed || s == RecorderState::Recording;
}

bool RecordingControl::closing() const
{
    return recorder_ && recorder_->status().state == RecorderState::Closing;
}

QString RecordingControl::statusText() const
{
    if (!recorder_)
        return {};
    const RecorderStatus s = recorder_->status();
    QString name = QFileInfo(QString::fromStdString(s.file)).fileName();
    if (eventsOnly_)
        name += QStringLiteral("（仅事件）");
    if (!splitText_.isEmpty())
        name += QStringLiteral("（每 %1 分割）").arg(splitText_);
    switch (s.state) {
    case RecorderState::Idle:
        return lastMessage_;
    case RecorderState::Failed:
        return QStringLiteral("记录失败：") + QString::fromStdString(s.lastError);
    case RecorderState::Armed:
        return QStringLiteral("记录 %1：等待开始采集").arg(name);
    case RecorderState::Closing:
        return QStringLiteral("记录 %1：正在关闭（closing）…").arg(name);
    case RecorderState::Recording:
        break;
    }
    QString text = QStringLiteral("记录 %1：%2 块，%3").arg(name).arg(s.blocksWritten).arg(byteSizeText(s.fileSize));
    if (s.blocksDropped > 0)
        text += QStringLiteral("，丢弃 %1 块").arg(s.blocksDropped);
    if (const QString full = timeToFullText(s.secondsToFull); !full.isEmpty()) {
        text += QStringLiteral("，") + full;
        if (s.freeBytes >= 0)
            text += QStringLiteral("（剩余 %1）").arg(byteSizeText(s.freeBytes));
    }
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
    if (recorder_) {
        while (const auto error = recorder_->takeError())
            report(QStringLiteral("记录失败：") + QString::fromStdString(*error));
        while (const auto notice = recorder_->takeNotice())
            emit noticed(QString::fromStdString(*notice));
        if (!closingFile_.isEmpty() && !active() && !closing()) {
            const RecorderStatus st = recorder_->status();
            if (st.state == RecorderState::Idle) {
                closedNote_ = QStringLiteral("记录文件已关闭：%1（%2 块，%3）")
                                  .arg(closingFile_)
                                  .arg(st.blocksWritten)
                                  .arg(byteSizeText(st.fileSize));
                emit told(closedNote_);
            }
            closingFile_.clear();
        }
        const QString text = statusText();
        if (text != lastStatus_) {
            lastStatus_ = text;
            emit statusChanged(text);
        }
        if (!active() && !closing())
            poll_->stop();
        else if (!poll_->isActive())
            poll_->start();
    }
    syncButtons();
}

QWidget *RecordingControl::makeControls(QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    record_ = new QPushButton(QStringLiteral("记录…"), row);
    stop_ = new QPushButton(QStringLiteral("停止记录"), row);
    mark_ = new QPushButton(QStringLiteral("标记"), row);
    record_->setObjectName(QStringLiteral("cmdRecord"));
    stop_->setObjectName(QStringLiteral("cmdStopRecord"));
    mark_->setObjectName(QStringLiteral("cmdMark"));
    mark_->setToolTip(QStringLiteral("标记最新的数据块 (M)"));
    for (QPushButton *b : {record_.data(), stop_.data(), mark_.data()})
        layout->addWidget(b);
    connect(record_, &QPushButton::clicked, this, [this, parent] { chooseFileAndStart(parent); });
    connect(stop_, &QPushButton::clicked, this, &RecordingControl::stop);
    connect(mark_, &QPushButton::clicked, this, [this, parent] { mark(parent); });
    // M anywhere in the window, as the button's own shortcut would be, but
    // held by the window so that it works whichever child has the focus.
    auto *markKey = new QAction(row);
    markKey->setShortcut(QKeySequence(Qt::Key_M));
    markKey->setShortcutContext(Qt::WindowShortcut);
    connect(markKey, &QAction::triggered, this, [this] {
        if (mark_ && mark_->isEnabled())
            mark_->click();
    });
    parent->addAction(markKey);
    syncButtons();
    return row;
}

void RecordingControl::chooseFileAndStart(QWidget *parent)
{
    // The dialog asks before an existing file is replaced, and names the
    // file so that 打开记录… lists it: "myrec" becomes "myrec.h5".
    QFileDialog dialog(parent, QStringLiteral("记录到文件"), QString(), QStringLiteral("HDF5 (*.h5 *.hdf5)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("h5"));
    // The mode goes below the dialog's own rows, which only Qt's own dialog
    // lets a program add to.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto *mode = new QComboBox(&dialog);
    mode->setObjectName(QStringLiteral("recordingMode"));
    mode->addItem(QStringLiteral("连续"));
    mode->addItem(QStringLiteral("仅事件"));
    mode->setToolTip(QStringLiteral("连续：每个数据块；仅事件：只记录事件前后的数据"));
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(new QLabel(QStringLiteral("记录方式："), &dialog), row, 0);
        grid->addWidget(mode, row, 1);
    }
    const auto *series = new SeriesChoiceRows(dialog, loadSeriesChoice());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const SeriesChoice choice = series->choice();
        saveSeriesChoice(choice);
        // The dialog asked before replacing a file; a series replaces none.
        start(dialog.selectedFiles().constFirst(), true, mode->currentIndex() == 1, seriesPlan(choice));
    }
    syncButtons();
}

void RecordingControl::mark(QWidget *parent)
{
    // The place is taken at the key: the text may take the operator a while.
    const auto stamp = recorder_ ? recorder_->stampMarker() : std::nullopt;
    if (!stamp) {
        report(QStringLiteral("标记失败：没有正在记录的运行（先“记录…”，再开始采集）"));
        syncButtons();
        return;
    }
    auto shown = echo_ ? echo_() : nullptr;
    // Modeless: the panel and this window go on answering while the text is
    // typed (停止采集 and 退出 included).
    auto *dialog = new QInputDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("markerText"));
    dialog->setWindowTitle(QStringLiteral("标记"));
    dialog->setLabelText(QStringLiteral("说明（可不填）："));
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setModal(false);
    connect(dialog, &QInputDialog::textValueSelected, this,
            [this, stamp = *stamp, shown](const QString &text) { addMarker(stamp, text, shown); });
    markerDialogs_.emplace_back(dialog);
    dialog->show();
}

void RecordingControl::addMarker(const MarkerStamp &stamp, const QString &text,
                                 const std::function<void(const QString &)> &shown)
{
    if (!recorder_)
        return;
    if (!recorder_->addMarker(stamp, text.toStdString())) {
        report(QStringLiteral("标记失败：该运行已结束，标记未写入"));
        return;
    }
    if (shown)
        shown(text);
    QString told = text.isEmpty() ? QStringLiteral("已标记") : QStringLiteral("已标记：%1").arg(text);
    // Only a captured stretch that takes its block in keeps it.
    if (eventsOnly_)
        told += QStringLiteral("（仅事件）");
    emit this->told(told);
}

void RecordingControl::takeOpenMarkers()
{
    // A recording stopped while a marker's text is still being typed keeps
    // the marker, with what was typed.
    for (const QPointer<QInputDialog> &dialog : std::exchange(markerDialogs_, {}))
        if (dialog && dialog->isVisible())
            dialog->accept();
}

// Record while nothing is recorded or closing, stop while something is, mark
// while a run is recorded; called after every change of the recorder's
// state, however it came.
void RecordingControl::syncButtons()
{
    const RecorderState s = recorder_ ? recorder_->status().state : RecorderState::Idle;
    const bool active = s == RecorderState::Armed || s == RecorderState::Recording;
    if (record_)
        record_->setEnabled(!active && s != RecorderState::Closing);
    if (stop_)
        stop_->setEnabled(active);
    if (mark_)
        mark_->setEnabled(s == RecorderState::Recording && recorder_->inRun());
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_recording_control.cpp"
