#include "platform/native_file.h"
#include "platform/utf8_path.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

namespace adcard {

namespace nativefile {

namespace {

HANDLE handleOf(Handle h) { return reinterpret_cast<HANDLE>(h); }

int errnoOf(DWORD e)
{
    switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return EOPNOTSUPP;
    case ERROR_DIRECTORY:
        return EISDIR;
    default:
        return EIO;
    }
}

Handle failed(int &err)
{
    err = errnoOf(::GetLastError());
    return kNone;
}

// Other handles (HDF5's own, a reader's) share the file; deleting is shared
// too, so that a finished file can be renamed over the old one.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Handle create(const std::string &path, DWORD disposition, DWORD attributes, int &err)
{
    const HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr, disposition,
                                   attributes, nullptr);
    return h == INVALID_HANDLE_VALUE ? failed(err) : reinterpret_cast<Handle>(h);
}

// Windows' byte-range locks bind every other handle's reads and writes, HDF5's
// too: the panel's lock lies far past any file's end, where no data is.
constexpr DWORD kPanelLockHigh = 0x7fff0000;

bool tryLock(HANDLE h, DWORD flags, DWORD high)
{
    OVERLAPPED at{};
    at.OffsetHigh = high;
    if (!::LockFileEx(h, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return false;
    ::UnlockFileEx(h, 0, 1, 0, &at);
    return true;
}

} // namespace

Kind kindOf(const std::string &path, int &err)
{
    const DWORD a = ::GetFileAttributesW(widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        err = errnoOf(::GetLastError());
        return err == ENOENT ? Kind::Missing : Kind::Unknown;
    }
    err = 0;
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Directory : Kind::File;
}

Handle createNew(const std::string &path, int &err) { return create(path, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, err); }

Handle createBeside(const std::string &path, const std::string &suffix, std::string &tempPath, int &err)
{
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path p(widen(path));
    const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : L".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = L"." + p.filename().wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) +
                                  L"." + std::to_wstring(counter++) + widen(suffix);
        tempPath = narrow((dir / name).wstring());
        const Handle h = create(tempPath, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, err);
        if (h != kNone || err != EEXIST)
            return h;
    }
    err = EEXIST;
    return kNone;
}

Handle openRead(const std::string &path, int &err)
{
    const HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? failed(err) : reinterpret_cast<Handle>(h);
}

int close(Handle h)
{
    return h == kNone || ::CloseHandle(handleOf(h)) ? 0 : errnoOf(::GetLastError());
}

int writeAll(Handle h, const void *data, std::size_t bytes)
{
    const char *at = static_cast<const char *>(data);
    while (bytes > 0) {
        DWORD n = 0;
        const DWORD ask = bytes > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes);
        if (!::WriteFile(handleOf(h), at, ask, &n, nullptr))
            return errnoOf(::GetLastError());
        at += n;
        bytes -= n;
    }
    return 0;
}

bool readAt(Handle h, void *into, std::size_t bytes, uint64_t at)
{
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD n = 0;
    return ::ReadFile(handleOf(h), into, static_cast<DWORD>(bytes), &n, &where) && n == bytes;
}

bool size(Handle h, uint64_t &bytes)
{
    LARGE_INTEGER s{};
    if (!::GetFileSizeEx(handleOf(h), &s))
        return false;
    bytes = static_cast<uint64_t>(s.QuadPart);
    return true;
}

void truncate(Handle h, uint64_t bytes)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
    (void)::SetFileInformationByHandle(handleOf(h), FileEndOfFileInfo, &end, sizeof end);
}

int reserve(Handle h, uint64_t endAt)
{
    uint64_t now = 0;
    if (!size(h, now))
        return errnoOf(::GetLastError());
    if (endAt <= now)
        return 0;
    // Clusters first, where the file system can (a full disk says so here),
    // then the end, which allocates them where it could not.
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(endAt);
    ::SetLastError(0);
    if (!::SetFileInformationByHandle(handleOf(h), FileAllocationInfo, &room, sizeof room) &&
        errnoOf(::GetLastError()) == ENOSPC)
        return ENOSPC;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(endAt);
    if (!::SetFileInformationByHandle(handleOf(h), FileEndOfFileInfo, &end, sizeof end))
        return errnoOf(::GetLastError());
    return 0;
}

int syncData(Handle h)
{
    if (::FlushFileBuffers(handleOf(h)))
        return 0;
    const DWORD e = ::GetLastError();
    return e == ERROR_INVALID_HANDLE || e == ERROR_INVALID_FUNCTION ? 0 : errnoOf(e);
}

int replace(const std::string &from, const std::string &to)
{
    // A rename keeps the attributes: shown before it, so that the file under
    // its final name is never hidden from Explorer and the file dialogs.
    const std::wstring source = widen(from);
    if (const DWORD a = ::GetFileAttributesW(source.c_str());
        a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_HIDDEN) &&
        !::SetFileAttributesW(source.c_str(), (a & ~FILE_ATTRIBUTE_HIDDEN) | FILE_ATTRIBUTE_NORMAL))
        return errnoOf(::GetLastError());
    if (::MoveFileExW(source.c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return errnoOf(::GetLastError());
}

int moveAside(const std::string &path, const std::string &suffix, std::string &asidePath)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        asidePath = path + "." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(counter++) + suffix;
        // Without MOVEFILE_REPLACE_EXISTING: never over another file.
        if (::MoveFileExW(widen(path).c_str(), widen(asidePath).c_str(), MOVEFILE_WRITE_THROUGH))
            return 0;
        const int err = errnoOf(::GetLastError());
        if (err != EEXIST)
            return err;
    }
    return EEXIST;
}

bool sameFile(const std::string &a, const std::string &b)
{
    // No access asked, so a file another program holds is still identified.
    const auto identify = [](const std::string &path, BY_HANDLE_FILE_INFORMATION &info) {
        const HANDLE h = ::CreateFileW(widen(path).c_str(), 0, kShare, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        const bool ok = ::GetFileInformationByHandle(h, &info);
        ::CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return identify(a, x) && identify(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

int replaceDurably(Handle h, const std::string &from, const std::string &to)
{
    if (!::FlushFileBuffers(handleOf(h)) && ::GetLastError() != ERROR_INVALID_HANDLE)
        return errnoOf(::GetLastError());
    return replace(from, to);
}

bool renamesOpenFiles() { return false; }

void remove(const std::string &path) { (void)::DeleteFileW(widen(path).c_str()); }

int lockForRecording(Handle h)
{
    OVERLAPPED at{};
    at.OffsetHigh = kPanelLockHigh;
    if (::LockFileEx(handleOf(h), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return 0;
    return errnoOf(::GetLastError());
}

Handle holdAgainstPanels(const std::string &path)
{
    int err = 0;
    const Handle h = openRead(path, err);
    OVERLAPPED at{};
    at.OffsetHigh = kPanelLockHigh;
    if (h != kNone)
        (void)::LockFileEx(handleOf(h), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    return h;
}

Writer otherWriter(const std::string &path)
{
    int err = 0;
    const Handle h = openRead(path, err);
    if (h == kNone)
        return Writer::None;
    Writer who = Writer::None;
    if (!tryLock(handleOf(h), 0, kPanelLockHigh))
        who = Writer::Panel;
    else if (!tryLock(handleOf(h), 0, 0)) // HDF5's writer locks the whole file
        who = Writer::Program;
    close(h);
    return who;
}

// A shared lock would refuse HDF5's own writes through its handle.
void holdReaderLock(Handle) {}
void dropReaderLock(Handle) {}

bool hdf5MayLock() { return false; }

void ignoreFileSizeSignal() {}

} // namespace nativefile
} // namespace adcard
