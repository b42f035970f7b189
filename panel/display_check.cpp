#include "panel/display_check.h"

#include "panel/system.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace adcard {

namespace {

QString platformSpec(const QStringList &arguments, const EnvLookup &env)
{
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("-platform") || a == QLatin1String("--platform"))
            return arguments[i + 1];
    }
    if (const char *p = env("QT_QPA_PLATFORM"); p && *p)
        return QString::fromLocal8Bit(p);
    return sys::defaultPlatforms(env);
}

bool set(const EnvLookup &env, const char *name)
{
    const char *v = env(name);
    return v && *v;
}

} // namespace

std::string displayProblem(const QStringList &arguments, const EnvLookup &env)
{
    const QString platforms = platformSpec(arguments, env);
    for (const QString &entry : platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0); // xcb:option=…
        if (name == QLatin1String("xcb")) {
            if (set(env, "DISPLAY"))
                return {};
        } else if (name.startsWith(QLatin1String("wayland"))) {
            if (set(env, "WAYLAND_DISPLAY"))
                return {};
        } else {
            return {}; // a platform that needs no display server, or one Qt knows better
        }
    }
    return "no display to open the window on (DISPLAY is not set); without one, run it under "
           "xvfb-run -a";
}

namespace {

std::mutex gHeldMutex;
std::vector<std::pair<QtMsgType, QString>> *gHeld = nullptr;
QtMessageHandler gPrevious = nullptr;
int gStatus = 1;

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        // The first thing Qt said names the cause ("could not connect to display :7").
        QString reason = message;
        {
            const std::lock_guard<std::mutex> lock(gHeldMutex);
            if (gHeld && !gHeld->empty())
                reason = gHeld->front().second;
        }
        std::fprintf(stderr, "adcard-panel: cannot open the window: %s\n",
                     reason.section(QLatin1Char('\n'), 0, 0).toLocal8Bit().constData());
        std::fflush(stderr);
        std::_Exit(gStatus);
    }
    const std::lock_guard<std::mutex> lock(gHeldMutex);
    if (gHeld)
        gHeld->emplace_back(type, message);
    else if (gPrevious)
        gPrevious(type, context, message);
}

} // namespace

DisplayGuard::DisplayGuard(int status)
{
    gStatus = status;
    gHeld = new std::vector<std::pair<QtMsgType, QString>>;
    gPrevious = qInstallMessageHandler(holdMessage);
}

DisplayGuard::~DisplayGuard()
{
    qInstallMessageHandler(gPrevious);
    std::vector<std::pair<QtMsgType, QString>> *held = nullptr;
    {
        const std::lock_guard<std::mutex> lock(gHeldMutex);
        held = gHeld;
        gHeld = nullptr;
    }
    // Qt managed after all: what it said goes out as it would have.
    const QMessageLogContext context;
    for (const auto &[type, message] : *held)
        qt_message_output(type, context, message);
    delete held;
}

} // namespace adcard
