#include "recording/disk_space.h"

#include "platform/utf8_path.h"

#include <windows.h>

#include <cerrno>

namespace adcard::disk {

namespace {

// FILETIME counts 100 ns from 1601.
int64_t nsSince1970(FILETIME t)
{
    const int64_t ticks = (int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return (ticks - 116444736000000000LL) * 100;
}

} // namespace

int64_t freeBytes(const std::string &folder)
{
    ULARGE_INTEGER available{};
    // The bytes left to this user, quotas included.
    if (!::GetDiskFreeSpaceExW(widen(folder).c_str(), &available, nullptr, nullptr))
        return -1;
    return static_cast<int64_t>(available.QuadPart);
}

std::vector<Entry> listFiles(const std::string &folder)
{
    std::vector<Entry> out;
    WIN32_FIND_DATAW found{};
    const HANDLE h = ::FindFirstFileW(widen(folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        out.push_back({narrow(found.cFileName), nsSince1970(found.ftLastWriteTime)});
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return out;
}

int removeFile(const std::string &path)
{
    if (::DeleteFileW(widen(path).c_str()))
        return 0;
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    default:
        return EIO;
    }
}

} // namespace adcard::disk
