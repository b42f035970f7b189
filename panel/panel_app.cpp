#include "panel/panel_app.h"

#include "acquisition/dlldef.h"
#include "driver/driver_status.h"
#include "driver/loader.h"
#include "panel/driver_problem.h"
#include "history/history_window.h"
#include "panel/command_line.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_style.h"
#include "panel/recording_control.h"
#include "panel/display_check.h"
#include "panel/unattended_run.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QFont>
#include <QFontDatabase>
#include <QLocale>
#include <QMenu>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

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
        if (event->type() == QEvent::Close && program_.history())
            program_.history()->close();
        return false;
    }

private:
    PanelProgram &program_;
    QAction *action_ = nullptr;
    std::unique_ptr<QMenu> menu_;
};

PanelProgram::PanelProgram(const PanelOptions &options)
{
    CardDriver *driver = options.driver;
    if (!driver) {
        loader_ = std::make_unique<DriverLoader>(options.library);
        driver = loader_.get();
    }
    dll_ = std::make_unique<DllDef>(*driver);
    window_ = std::make_unique<FrmMultiBuf>(*dll_, QLocale().decimalPoint().toStdString());
    if (loader_) {
        // Before load: the load step is the first to call the driver.
        loader_->setFailureSink(
            [w = window_.get()](const DriverFailure &f) { w->addDriverProblem(driverProblemText(f)); });
    }
    window_->load();
    window_->show();
    events_ = std::make_unique<PanelEvents>(*this);
    if (options.history)
        openHistory();
    if (!options.record.empty())
        recording().start(QString::fromStdString(options.record), options.overwrite);
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
    if (unattended_)
        window_->acquisition().removeBlockHook(*unattended_);
    unattended_.reset();
    recording_.reset(); // closes the file, if the unload has not
    events_.reset();
    if (history_)
        window_->acquisition().removeBlockHook(*history_);
    history_.reset();
    if (loader_)
        loader_->setFailureSink({});
}

namespace {

// Beside the panel on its right, or on its left when the screen ends there.
void placeBeside(QWidget &history, const QWidget &panel)
{
    const QRect frame = panel.frameGeometry();
    const QScreen *screen = panel.screen() ? panel.screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const int gap = 8;
    QPoint at(frame.right() + 1 + gap, frame.top());
    if (room.isValid() && at.x() + history.width() > room.right() + 1 &&
        frame.left() - gap - history.width() >= room.left())
        at.setX(frame.left() - gap - history.width());
    history.move(at);
}

} // namespace

HistoryWindow &PanelProgram::openHistory()
{
    if (!history_) {
        HistorySources sources;
        sources.panelTimer = window_->timer();
        sources.blockCount = [this] { return window_->acquisition().BlockCount; };
        if (loader_)
            sources.driver = [this] { return driverStatus(*loader_); };
        sources.decimalSeparator = window_->acquisition().decimalSeparator();
        history_ = std::make_unique<HistoryWindow>(*dll_, std::move(sources));
        placeBeside(*history_, *window_);
        window_->acquisition().addBlockHook(*history_);
        addRecordingButtons();
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
            return i;
        };
        recording_ = std::make_unique<RecordingControl>(window_->acquisition(), info, [this] { window_->close(); });
        // A failure must reach the operator: the status line of the history
        // window is where the recording reports.
        QObject::connect(recording_.get(), &RecordingControl::failed, recording_.get(), [this] { openHistory(); });
        QObject::connect(recording_.get(), &RecordingControl::statusChanged, recording_.get(),
                         [this](const QString &text) {
                             if (history_) {
                                 history_->setExtraStatus(text);
                                 syncRecordingButtons();
                             }
                         });
    }
    return *recording_;
}

void PanelProgram::addRecordingButtons()
{
    auto *record = new QPushButton(QStringLiteral("记录…"), history_.get());
    auto *stop = new QPushButton(QStringLiteral("停止记录"), history_.get());
    record->setObjectName(QStringLiteral("cmdRecord"));
    stop->setObjectName(QStringLiteral("cmdStopRecord"));
    history_->toolbarLayout()->addWidget(record);
    history_->toolbarLayout()->addWidget(stop);
    QObject::connect(record, &QPushButton::clicked, history_.get(), [this] {
        // The dialog asks before an existing file is replaced.
        const QString path = QFileDialog::getSaveFileName(history_.get(), QStringLiteral("记录到文件"), QString(),
                                                          QStringLiteral("HDF5 (*.h5 *.hdf5)"));
        if (!path.isEmpty())
            recording().start(path, true);
        syncRecordingButtons();
    });
    QObject::connect(stop, &QPushButton::clicked, history_.get(), [this] {
        if (recording_)
            recording_->stop();
        syncRecordingButtons();
    });
    if (recording_)
        history_->setExtraStatus(recording_->statusText());
    syncRecordingButtons();
}

// Record while nothing is recorded, stop while something is; called after
// every change of the recorder's state, however it came.
void PanelProgram::syncRecordingButtons()
{
    const bool active = recording_ && recording_->active();
    if (auto *record = history_->findChild<QPushButton *>(QStringLiteral("cmdRecord")))
        record->setEnabled(!active);
    if (auto *stop = history_->findChild<QPushButton *>(QStringLiteral("cmdStopRecord")))
        stop->setEnabled(active);
}

int runPanel(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (!parsed.run)
        return parsed.status;

    if (const std::string problem = displayProblem(arguments, [](const char *n) { return std::getenv(n); });
        !problem.empty()) {
        std::fprintf(stderr, "adcard-panel: %s\n", problem.c_str());
        return kExitNoDisplay;
    }

    prepareApplication();
    std::optional<DisplayGuard> guard(std::in_place, kExitNoDisplay);
    QApplication app(argc, argv);
    guard.reset();
    applyApplicationLook();
    PanelOptions options;
    options.history = parsed.run->history;
    options.record = parsed.run->record.toStdString();
    options.overwrite = parsed.run->overwrite;
    options.start = parsed.run->start;
    options.stopAfter = parsed.run->stopAfter;
    PanelProgram program(options);
    if (const int status = QApplication::exec(); status != 0)
        return status;
    std::string why;
    const int status = program.exitStatus(why);
    if (!why.empty())
        std::fprintf(stderr, "adcard-panel: %s\n", why.c_str());
    return status;
}

} // namespace adcard
