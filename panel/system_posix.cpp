#include "panel/system.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

namespace adcard::sys {

QStringList arguments(int argc, char **argv)
{
    QStringList out;
    for (int i = 0; i < argc; ++i)
        out << QString::fromLocal8Bit(argv[i]);
    return out;
}

QString programDir()
{
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

std::string nativePath(const QString &path) { return QFile::encodeName(path).toStdString(); }

std::string folderWriteProblem(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return std::strerror(errno);
    return {};
}

std::optional<int64_t> diskSize(const QString &folder)
{
    struct statvfs fs{};
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return std::nullopt;
    return static_cast<int64_t>(fs.f_blocks) * static_cast<int64_t>(fs.f_frsize);
}

QString defaultPlatforms(const std::function<const char *(const char *)> &env)
{
    // Qt's own default on this system, with the session's kind first.
    if (const char *session = env("XDG_SESSION_TYPE"); session && QByteArray(session) == "wayland")
        return QStringLiteral("wayland;xcb");
    return QStringLiteral("xcb");
}

QString hostProgramName() { return QStringLiteral("adcard-host"); }

bool driverInHostByDefault() { return false; }

// The launcher puts the simulated card first on the library search path.
std::string driverLibraryOverride() { return {}; }

} // namespace adcard::sys
