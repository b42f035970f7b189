#include "panel/panel_app.h"

#include "acquisition/dlldef.h"
#include "panel/frm_multibuf.h"
#include "driver/loader.h"
#include "panel/driver_problem.h"
#include "panel/panel_style.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLocale>
#include <QScreen>

#include <algorithm>
#include <cmath>

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
        loader_->setFailureDetailSink(
            [w = window_.get()](const DriverFailure &f) { w->addDriverProblem(driverProblemText(f)); });
    }
    window_->load();
    window_->show();
}

PanelProgram::~PanelProgram()
{
    if (loader_)
        loader_->setFailureDetailSink({});
}

int runPanel(int argc, char **argv)
{
    prepareApplication();
    QApplication app(argc, argv);
    applyApplicationLook();
    PanelProgram program;
    return QApplication::exec();
}

} // namespace adcard
