// The reviews the panel opens: a recording in a window of this program, or,
// for the file this panel records, in a process of its own that follows it;
// and the refusal to record into a file a review holds.
#include "panel/panel_app.h"

#include "panel/frm_multibuf.h"
#include "panel/recording_control.h"
#include "panel/recording_module.h"
#include "platform/native_file.h"
#include "review/review_window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace adcard {

namespace {

// A review window on `path`, deleting itself when closed; a file that cannot
// be shown gets a message box over `over` instead (null). With a panel, the
// file it records goes to a process of its own.
ReviewWindow *openReviewWindow(const QString &path, QWidget *over, PanelProgram *panel)
{
    if (panel && panel->recordingInto(path)) {
        panel->openReview(path);
        return nullptr;
    }
    QString why;
    OpenedRecording opened = openRecordingForReview(path, why);
    if (!opened.run) {
        QMessageBox::warning(over, ReviewWindow::windowName(), QStringLiteral("无法打开记录 %1：\n%2").arg(path, why));
        return nullptr;
    }
    auto *review = new ReviewWindow(path, std::move(opened.reader), std::move(opened.run), opened.transform);
    review->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(review, &ReviewWindow::openRecordingRequested, review,
                     [review, panel] { askAndOpenReviewWindow(review, panel); });
    placeReviewWindow(*review);
    review->show();
    return review;
}

} // namespace

ReviewWindow *askAndOpenReviewWindow(QWidget *over, PanelProgram *panel)
{
    const QPointer<QWidget> asking(over);
    const QString path = QFileDialog::getOpenFileName(over, QStringLiteral("打开记录"), QString(),
                                                      QStringLiteral("HDF5 (*.h5 *.hdf5);;* (*)"));
    // Nothing new once the window that asked has been closed meanwhile.
    return path.isEmpty() || !asking || !asking->isVisible() ? nullptr : openReviewWindow(path, over, panel);
}

ReviewWindow *PanelProgram::openReview(const QString &path)
{
    QWidget *over = history_ ? static_cast<QWidget *>(history_.get()) : window_.get();
    if (recordingInto(path)) {
        reviewElsewhere(path, over);
        return nullptr;
    }
    return openReviewWindow(path, over, this);
}

ReviewWindow *PanelProgram::askAndOpenReview()
{
    return askAndOpenReviewWindow(history_ ? static_cast<QWidget *>(history_.get()) : window_.get(), this);
}

// Not modal to the application, and never a loop of its own on this stack:
// the panel closing while it is open takes it along with the history window.
void PanelProgram::askChannelUnits()
{
    const RecordingSession *recorder = recording_ ? recording_->recorder() : nullptr;
    const RecorderState state = recorder ? recorder->status().state : RecorderState::Idle;
    // What is in effect, which may be more than the settings could keep.
    auto *dialog = new ChannelDialog(history_ ? history_->channelUnits() : loadChannelUnits(kPlotChannels),
                                     state == RecorderState::Armed || state == RecorderState::Recording, history_.get());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, dialog, [this, dialog] {
        const ChannelUnits units = dialog->units();
        if (history_)
            history_->setChannelUnits(units);
        const std::string why = saveChannelUnits(units);
        // On the message line, which the recording's status does not overwrite.
        if (!why.empty() && history_)
            history_->showMessage(QStringLiteral("通道设置只在本次运行中有效：") + QString::fromStdString(why), true);
    });
    dialog->open();
}

bool PanelProgram::recordingInto(const QString &path) const
{
    const RecordingSession *recorder = recording_ ? recording_->recorder() : nullptr;
    if (!recorder)
        return false;
    const RecorderStatus s = recorder->status();
    if (s.state != RecorderState::Armed && s.state != RecorderState::Recording && s.state != RecorderState::Closing)
        return false;
    const QString held = QFileInfo(QString::fromStdString(s.file)).canonicalFilePath();
    return !held.isEmpty() && held == QFileInfo(path).canonicalFilePath();
}

// The program itself with --open, as a reader like any other: it follows the
// file while it grows, and 停止记录 here closes the file as it says, whatever
// that window holds.
void PanelProgram::reviewElsewhere(const QString &path, QWidget *over)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    // A file it cannot show (a run with no blocks yet, say) ends it at once
    // with one line saying why: said here, where the operator asked.
    QObject::connect(process.get(), &QProcess::finished, process.get(),
                     [p = process.get(), at = QPointer<QWidget>(over), path](int code, QProcess::ExitStatus how) {
                         const QString why = QString::fromLocal8Bit(p->readAllStandardError()).trimmed();
                         if (how == QProcess::NormalExit && code == kExitUsage && at)
                             QTimer::singleShot(0, at, [at, path, why] {
                                 QMessageBox::warning(at, ReviewWindow::windowName(),
                                                      QStringLiteral("无法打开记录 %1：\n%2").arg(path, why));
                             });
                     });
    process->start(reviewProgram_.isEmpty() ? QCoreApplication::applicationFilePath() : reviewProgram_,
                   {QStringLiteral("--open"), path});
    if (!process->waitForStarted(5000)) {
        QMessageBox::warning(over, ReviewWindow::windowName(),
                             QStringLiteral("无法打开记录 %1：\n%2").arg(path, process->errorString()));
        return;
    }
    std::erase_if(reviewProcesses_, [](const auto &p) { return p->state() == QProcess::NotRunning; });
    reviewProcesses_.push_back(std::move(process));
}

void PanelProgram::closeReviews()
{
    // However each was opened: from the history window or from another review.
    // All found first: deleting one deletes its dialogs, which are in the list.
    std::vector<QPointer<ReviewWindow>> reviews;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *review = qobject_cast<ReviewWindow *>(w))
            reviews.emplace_back(review);
    for (const QPointer<ReviewWindow> &review : reviews) {
        if (!review)
            continue;
        // One whose dialog or export runs its loop beneath us goes once that
        // loop has returned; the others can go now.
        if (review->inOwnLoop())
            review->close();
        else
            delete review;
    }
    // Asked as the system asks: each closes as its close box would.
    for (const auto &process : reviewProcesses_)
        process->terminate();
}

} // namespace adcard
