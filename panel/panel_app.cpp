#include "panel/panel_app.h"

#include "channels/channel_dialog.h"
#include "channels/channel_store.h"

#include "acquisition/dlldef.h"
#include "driver/driver_status.h"
#include "driver/loader.h"
#include "panel/driver_problem.h"
#include "history/history_window.h"
#include "history/live_ring_feed.h"
#include "panel/command_line.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_style.h"
#include "panel/recording_control.h"
#include "panel/recording_module.h"
#include "review/review_window.h"
#include "panel/display_check.h"
#include "panel/termination.h"
#include "panel/system.h"
#include "panel/rule_control.h"
#include "panel/unattended_run.h"
#include "platform/native_file.h"
#include "panel/window_placer.h"
#include "recording/recording_session.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QHBoxLayout>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace adcard {

// F2, the background's context menu and closing the history window with
// the panel. None of it is a control of the panel: the action and the menu
// are not its children, and the filter only watches its events.
class PanelProgram::PanelEvents final : public QObject {
public:
    explicit PanelEvents(PanelProgram &program) : program_(program)
    {
        action_ = new QAction(QStringLiteral("历史波形 (F2)"), this);
        action_->setShortcut(QKeySequence(Qt::Key_F2));
        action_->setShortcutContext(Qt::WindowShortcut);
        action_->setShortcutVisibleInContextMenu(false); // the text names it already
        connect(action_, &QAction::triggered, this, [this] { program_.openHistory(); });
        program_.window().addAction(action_);
        program_.window().installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        FrmMultiBuf &panel = program_.window();
        if (watched != &panel)
            return false;
        if (event->type() == QEvent::ContextMenu) {
            auto *e = static_cast<QContextMenuEvent *>(event);
            // Only the window's own background: a control's menu, or none,
            // stays as it was.
            if (panel.childAt(e->pos()))
                return false;
            if (!menu_) {
                menu_ = std::make_unique<QMenu>();
                menu_->addAction(action_);
            }
            menu_->popup(e->globalPos());
            return true;
        }
        if (event->type() == QEvent::Close) {
            program_.closeReviews();
            if (program_.history()) {
                const RecordingControl *rec = program_.recording_.get();
                if (rec && (rec->active() || rec->closing()))
                    closeHistoryOnceRecorded();
                else
                    program_.history()->close();
            }
        }
        return false;
    }

private:
    // The panel's unload, just after this, begins closing the recording: the
    // history window stays meanwhile, responsive, its status line saying so,
    // and goes (ending the program) once the file is closed, or at the limit.
    void closeHistoryOnceRecorded()
    {
        auto *timer = new QTimer(this);
        const auto end = std::chrono::steady_clock::now() + kRecordingCloseLimit;
        connect(timer, &QTimer::timeout, this, [this, timer, end] {
            if (program_.recording_->closing() && std::chrono::steady_clock::now() < end)
                return;
            timer->deleteLater();
            if (program_.history())
                program_.history()->close();
        });
        timer->start(50);
    }

    PanelProgram &program_;
    QAction *action_ = nullptr;
    std::unique_ptr<QMenu> menu_;
};

PanelProgram::PanelProgram(const PanelOptions &options) : reviewProgram_(options.reviewProgram), log_(options.log)
{
    CardDriver *driver = options.driver;
    if (!driver) {
        if (options.host)
            loader_ = std::make_unique<HostDriver>(*options.host);
        else
            loader_ = std::make_unique<DriverLoader>(options.library);
        driver = loader_.get();
    }
    dll_ = std::make_unique<DllDef>(*driver);
    window_ = std::make_unique<FrmMultiBuf>(*dll_, QLocale().decimalPoint().toStdString());
    if (loader_) {
        // Before load: the load step is the first to call the driver.
        loader_->setFailureSink([this](const DriverFailure &f) { driverFailed(f); });
    }
    window_->load();
    ringFeed_ = std::make_unique<LiveRingFeed>(dll_->settings);
    window_->acquisition().addBlockHook(*ringFeed_);
    placePanel(*window_);
    makeRuleControl();
    if (!options.rules.empty()) {
        if (const auto why = rules_->armFile(QString::fromStdString(options.rules))) {
            rulesRefused_ = *why;
            return;
        }
    }
    window_->show();
    events_ = std::make_unique<PanelEvents>(*this);
    if (options.history)
        openHistory();
    if (!options.record.empty() &&
        !recording().start(QString::fromStdString(options.record), options.overwrite, options.eventsOnly,
                           {options.split, options.retention})) {
        recordRefused_ = true; // nothing is started
        return;
    }
    if (options.start || options.stopAfter || !options.record.empty()) {
        UnattendedOptions u{options.start, options.stopAfter, !options.record.empty()};
        unattended_ = std::make_unique<UnattendedRun>(*window_, u, [this]() -> const RecordingSession * {
            return recording_ ? recording_->recorder() : nullptr;
        });
        window_->acquisition().addBlockHook(*unattended_);
    }
}

int PanelProgram::exitStatus(std::string &why) const
{
    return unattended_ ? unattended_->exitStatus(why) : kExitOk;
}

PanelProgram::~PanelProgram()
{
    closeReviews();
    for (const auto &process : reviewProcesses_)
        if (!process->waitForFinished(2000))
            process->kill();
    if (unattended_)
        window_->acquisition().removeBlockHook(*unattended_);
    unattended_.reset();
    recording_.reset(); // closes the file, if the unload has not
    rules_.reset();
    events_.reset();
    if (history_)
        window_->acquisition().removeBlockHook(*history_);
    history_.reset();
    if (loader_)
        loader_->setFailureSink({});
}

void PanelProgram::driverFailed(const DriverFailure &failure)
{
    window_->addDriverProblem(driverProblemText(failure));
    if (failure.kind != DriverFailure::Kind::Host)
        return;
    // The driver is gone for good: the recording is closed with every block
    // fetched so far, once the handler or tick that met the loss has ended.
    QTimer::singleShot(0, window_.get(), [this] {
        if (unattended_)
            unattended_->cutShort("the driver host was lost");
        if (recording_ && recording_->active())
            recording_->stop();
        if (history_)
            history_->refreshDriver();
    });
}

HistoryWindow &PanelProgram::openHistory()
{
    if (!history_) {
        HistorySources sources;
        sources.panelTimer = window_->timer();
        sources.blockCount = [this] { return window_->acquisition().BlockCount; };
        if (loader_)
            sources.driver = [this] { return driverStatus(*loader_); };
        sources.decimalSeparator = window_->acquisition().decimalSeparator();
        history_ = std::make_unique<HistoryWindow>(*ringFeed_, std::move(sources));
        placeHistoryWindow(*history_, *window_);
        window_->acquisition().addBlockHook(*history_);
        // The recording owns its controls and status; the window only shows them.
        history_->toolbarLayout()->addWidget(recording().makeControls(history_.get()));
        history_->setExtraStatus(recording().statusText());
        recording().setMarkerEcho([this] {
            return history_ ? history_->stampMarker() : std::function<void(const QString &)>();
        });
        QObject::connect(history_.get(), &HistoryWindow::openRecordingRequested, history_.get(),
                         [this] { askAndOpenReview(); });
        history_->setChannelUnits(loadChannelUnits(kPlotChannels));
        QObject::connect(history_.get(), &HistoryWindow::channelUnitsRequested, history_.get(),
                         [this] { askChannelUnits(); });
        wireRulesTo(*history_);
    }
    if (history_->isVisible())
        history_->raise();
    else
        history_->show();
    return *history_;
}

RecordingControl &PanelProgram::recording()
{
    if (!recording_) {
        const auto info = [this] {
            RecorderInfo i;
            i.driverLibrary = loader_ ? loadedLibrary(*loader_) : std::string("(not a library)");
            i.programVersion = ADPANEL_VERSION;
            i.units = history_ ? history_->channelUnits() : loadChannelUnits(kPlotChannels);
            return i;
        };
        recording_ = std::make_unique<RecordingControl>(window_->acquisition(), info, [this] { window_->close(); });
        // A failure must reach the operator: the status line of the history
        // window is where the recording reports.
        QObject::connect(recording_.get(), &RecordingControl::failed, recording_.get(), [this] { openHistory(); });
        QObject::connect(recording_.get(), &RecordingControl::statusChanged, recording_.get(),
                         [this](const QString &text) {
                             if (history_)
                                 history_->setExtraStatus(text);
                         });
        // Every failure and every confirmation also in the window, where it
        // stays until the next.
        QObject::connect(recording_.get(), &RecordingControl::failed, recording_.get(), [this](const QString &text) {
            if (history_)
                history_->showMessage(text, true);
        });
        QObject::connect(recording_.get(), &RecordingControl::told, recording_.get(), [this](const QString &text) {
            if (history_)
                history_->showMessage(text, false);
        });
        QObject::connect(recording_.get(), &RecordingControl::noticed, recording_.get(), [this](const QString &text) {
            if (history_)
                history_->showMessage(text, false);
            const std::string line = noticeLine(QDateTime::currentDateTime(), text);
            if (log_) {
                log_(line);
            } else {
                std::fputs(line.c_str(), stderr);
                std::fflush(stderr);
            }
        });
        QObject::connect(recording_.get(), &RecordingControl::withdrawn, recording_.get(),
                         [this](const QString &text) {
                             if (history_ && history_->messageLabel()->text() == text)
                                 history_->showMessage(QString(), false);
                         });
        recording_->setAcquiring([this] { return window_->timer()->isActive(); });
        recording_->setOpenHere([](const QString &path) {
            // The same file under any name: a link, a path spelt otherwise.
            for (QWidget *w : QApplication::topLevelWidgets())
                if (const auto *review = qobject_cast<ReviewWindow *>(w);
                    review && nativefile::sameFile(path.toStdString(), review->path().toStdString()))
                    return review->windowTitle();
            return QString();
        });
    }
    return *recording_;
}


bool PanelProgram::finishRecording(std::chrono::milliseconds limit)
{
    return !recording_ || recording_->finish(limit);
}

} // namespace adcard
