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

// Outside the namespace: the macro declares the resource's initialiser.
static void initFontResource() { Q_INIT_RESOURCE(panel_fonts); }

namespace adcard {

void prepareApplication()
{
    QApplication::setApplicationName(QStringLiteral("adcard-panel"));
    // Lets the desktop match the window to adcard-panel.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("adcard-panel"));
}

int panelFontPixels(double dpi)
{
    // Rounded down: one pixel more and "开关量输入0：" runs into lblDI_0.
    return std::max(1, static_cast<int>(std::floor(kPanelFontTwips * dpi / 1440.0)));
}

void applyApplicationLook()
{
    // The same look on every desktop, whatever the user's theme.
    QApplication::setStyle(new PanelStyle);
    const QScreen *screen = QGuiApplication::primaryScreen();
    // The program's own subset of Noto Sans Mono CJK SC (panel/fonts, made by
    // tools/make_font_subset.py) draws every caption, so the window never
    // maps the system's 56 MB CJK collection; the system faces behind it draw
    // only what an operator types that the subset lacks.
    static const int bundled = [] {
        initFontResource();
        return QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/AdpanelMono-Regular.otf"));
    }();
    QStringList families = QFontDatabase::applicationFontFamilies(bundled);
    if (families.isEmpty())
        qWarning("adcard-panel: the bundled font could not be loaded; using the system's");
    families << QStringLiteral("Noto Sans Mono CJK SC") << QStringLiteral("Noto Sans CJK SC");
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(panelFontPixels(screen ? screen->logicalDotsPerInchY() : 96.0));
    QApplication::setFont(font);
}

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

PanelProgram::PanelProgram(const PanelOptions &options) : reviewProgram_(options.reviewProgram)
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
        !recording().start(QString::fromStdString(options.record), options.overwrite, options.eventsOnly)) {
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

namespace {

ReviewWindow *askAndOpenReviewWindow(QWidget *over, PanelProgram *panel);

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

ReviewWindow *askAndOpenReviewWindow(QWidget *over, PanelProgram *panel)
{
    const QPointer<QWidget> asking(over);
    const QString path = QFileDialog::getOpenFileName(over, QStringLiteral("打开记录"), QString(),
                                                      QStringLiteral("HDF5 (*.h5 *.hdf5);;* (*)"));
    // Nothing new once the window that asked has been closed meanwhile.
    return path.isEmpty() || !asking || !asking->isVisible() ? nullptr : openReviewWindow(path, over, panel);
}

} // namespace

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

bool PanelProgram::finishRecording(std::chrono::milliseconds limit)
{
    return !recording_ || recording_->finish(limit);
}

namespace {

// The application, set up as every window of the program expects; null,
// after one line on standard error, where no display can be opened (instead
// of Qt's abort).
// Qt's own dialogs and buttons (the file dialogs, Yes and No, Cancel) in the
// system's language when Qt has it, else in Simplified Chinese like the rest
// of the program, rather than in English. Debian's qt6-translations-l10n
// holds them; without it they stay English.
void loadQtTranslation(QApplication &app)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *qt = new QTranslator(&app);
    if (qt->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"), dir) ||
        qt->load(QStringLiteral("qtbase_zh_CN"), dir))
        QApplication::installTranslator(qt);
    else
        delete qt;
}

std::unique_ptr<QApplication> makeApplication(int &argc, char **argv, const QStringList &arguments)
{
    if (const std::string problem = displayProblem(arguments, [](const char *n) { return std::getenv(n); });
        !problem.empty()) {
        std::fprintf(stderr, "adcard-panel: %s\n", problem.c_str());
        return nullptr;
    }
    prepareApplication();
    std::optional<DisplayGuard> guard(std::in_place, kExitNoDisplay);
    auto app = std::make_unique<QApplication>(argc, argv);
    guard.reset();
    applyApplicationLook();
    loadQtTranslation(*app);
    return app;
}

// --open: the review window alone, never the driver library. The file is
// opened before the QApplication exists, so that a bad one is refused
// (status 2, one line) before any window shows and without a display.
int runReview(int argc, char **argv, const QStringList &arguments, const QString &path)
{
    const QString program = QFileInfo(arguments.first()).fileName();
    QString why;
    OpenedRecording opened = openRecordingForReview(path, why);
    if (!opened.run) {
        why.replace(QLatin1Char('\n'), QLatin1Char(' '));
        const QString line = QStringLiteral("%1: cannot open '%2': %3\n").arg(program, path, why);
        std::fputs(line.toLocal8Bit().constData(), stderr);
        return kExitUsage;
    }
    const auto app = makeApplication(argc, argv, arguments);
    if (!app)
        return kExitNoDisplay;
    ReviewWindow window(path, std::move(opened.reader), std::move(opened.run), opened.transform);
    QObject::connect(&window, &ReviewWindow::openRecordingRequested, &window,
                     [&window] { askAndOpenReviewWindow(&window, nullptr); });
    // The panel that started it, ending, asks it so.
    const TerminationRequests termination([&window] { window.close(); });
    placeReviewWindow(window);
    window.show();
    return QApplication::exec();
}

// The host that came with the panel: beside it when installed, in its own
// folder of the build tree, else wherever PATH finds it.
std::string defaultHostProgram()
{
    const QString name = sys::hostProgramName();
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {dir + u'/' + name, dir + QStringLiteral("/../host/") + name})
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).absoluteFilePath().toStdString();
    return name.toStdString();
}
} // namespace

int runPanel(int argc, char **argv)
{
    const QStringList arguments = sys::arguments(argc, argv);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (!parsed.run)
        return parsed.status;
    if (!parsed.run->open.isEmpty())
        return runReview(argc, argv, arguments, parsed.run->open);
    const auto app = makeApplication(argc, argv, arguments);
    if (!app)
        return kExitNoDisplay;
    PanelOptions options;
    options.history = parsed.run->history;
    options.record = parsed.run->record.toStdString();
    options.overwrite = parsed.run->overwrite;
    options.eventsOnly = parsed.run->eventsOnly;
    options.start = parsed.run->start;
    options.stopAfter = parsed.run->stopAfter;
    if (parsed.run->driverHost || sys::driverInHostByDefault()) {
        options.host.emplace();
        options.host->command = {!parsed.run->driverHost || parsed.run->driverHost->isEmpty()
                                     ? defaultHostProgram()
                                     : parsed.run->driverHost->toStdString()};
        options.host->library = sys::driverLibraryOverride();
    }
    options.rules = parsed.run->rules.toStdString();
    PanelProgram program(options);
    if (!program.rulesRefused().empty()) {
        std::fprintf(stderr, "adcard-panel: %s\n", program.rulesRefused().c_str());
        return kExitUsage;
    }
    if (program.recordRefused())
        return kExitUsage;
    const int loopStatus = QApplication::exec();
    // Exit and the close box have begun closing the recording; a writer
    // stuck on the disk (a hung network share) does not keep the program.
    if (!program.finishRecording(kRecordingCloseLimit)) {
        std::fprintf(stderr, "adcard-panel: the recording is still closing; it keeps what was flushed\n");
        std::fflush(nullptr);
        std::_Exit(loopStatus != 0 ? loopStatus : kExitRecordingLost);
    }
    if (loopStatus != 0)
        return loopStatus;
    std::string why;
    const int status = program.exitStatus(why);
    if (!why.empty())
        std::fprintf(stderr, "adcard-panel: %s\n", why.c_str());
    return status;
}

} // namespace adcard
