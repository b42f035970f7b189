#include "panel/system.h"

#include "platform/utf8_path.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace adcard::sys {

QStringList arguments(int, char **)
{
    QStringList out;
    int n = 0;
    if (wchar_t **args = ::CommandLineToArgvW(::GetCommandLineW(), &n)) {
        for (int i = 0; i < n; ++i)
            out << QString::fromWCharArray(args[i]);
        ::LocalFree(args);
    }
    return out;
}

QString programDir()
{
    std::wstring file(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
    file.resize(n);
    const QString path = QString::fromStdWString(file);
    return path.left(path.lastIndexOf(QLatin1Char('\\')));
}

std::string nativePath(const QString &path) { return path.toStdString(); }

std::string folderWriteProblem(const QString &folder)
{
    // Only a file made there says: permissions on Windows are lists that
    // the attributes do not show.
    const std::wstring probe = widen(folder.toStdString()) + L"\\.adcard-write-test-" +
                               std::to_wstring(::GetCurrentProcessId());
    const HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return {};
    }
    const DWORD e = ::GetLastError();
    if (e == ERROR_FILE_EXISTS)
        return {};
    return std::strerror(e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT ? EACCES : EIO);
}

std::optional<int64_t> diskSize(const QString &folder)
{
    ULARGE_INTEGER available{}, total{}, totalFree{};
    if (!::GetDiskFreeSpaceExW(widen(folder.toStdString()).c_str(), &available, &total, &totalFree))
        return std::nullopt;
    return static_cast<int64_t>(total.QuadPart);
}

QString defaultPlatforms(const std::function<const char *(const char *)> &)
{
    return QStringLiteral("windows");
}

QString hostProgramName() { return QStringLiteral("adcard-host.exe"); }

bool driverInHostByDefault() { return true; }

// The system folders come before PATH in Windows' search for a DLL, so the
// launcher of the simulated card names it in full.
std::string driverLibraryOverride()
{
    const wchar_t *name = ::_wgetenv(L"ADCARD_LIBRARY");
    return name ? narrow(name) : std::string();
}

} // namespace adcard::sys
