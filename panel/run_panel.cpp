// The program's start: the application and its look, the command line, a
// review alone (--open), and the panel's run to its exit status.
#include "panel/panel_app.h"

#include "panel/command_line.h"
#include "panel/display_check.h"
#include "panel/panel_style.h"
#include "panel/recording_module.h"
#include "panel/system.h"
#include "panel/termination.h"
#include "panel/window_placer.h"
#include "review/review_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    options.split = parsed.run->split;
    options.retention = parsed.run->retention;
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
