#include "platform/native_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace adcard::nativefile {

namespace {

int fdOf(Handle h) { return static_cast<int>(h); }

Handle failed(int &err)
{
    err = errno;
    return kNone;
}

} // namespace

Kind kindOf(const std::string &path, int &err)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        err = errno;
        return err == ENOENT ? Kind::Missing : Kind::Unknown;
    }
    err = 0;
    return S_ISDIR(st.st_mode) ? Kind::Directory : Kind::File;
}

Handle createNew(const std::string &path, int &err)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0 ? Handle(fd) : failed(err);
}

Handle createBeside(const std::string &path, const std::string &suffix, std::string &tempPath, int &err)
{
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path p(path);
    const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = (dir / ("." + p.filename().string() + "." + std::to_string(::getpid()) + "." +
                           std::to_string(counter++) + suffix))
                       .string();
        // 0666 less the umask, as any file the user creates.
        const int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (exists)
                (void)::fchmod(fd, old.st_mode & 07777);
            return Handle(fd);
        }
        if (errno != EEXIST)
            return failed(err);
    }
    err = EEXIST;
    return kNone;
}

Handle openRead(const std::string &path, int &err)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return fd >= 0 ? Handle(fd) : failed(err);
}

int close(Handle h)
{
    return h == kNone || ::close(fdOf(h)) == 0 ? 0 : errno;
}

int writeAll(Handle h, const void *data, std::size_t bytes)
{
    const char *at = static_cast<const char *>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fdOf(h), at, bytes);
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0) {
            at += n;
            bytes -= static_cast<std::size_t>(n);
        }
    }
    return 0;
}

bool readAt(Handle h, void *into, std::size_t bytes, uint64_t at)
{
    return ::pread(fdOf(h), into, bytes, static_cast<off_t>(at)) == static_cast<ssize_t>(bytes);
}

bool size(Handle h, uint64_t &bytes)
{
    struct stat st {};
    if (::fstat(fdOf(h), &st) != 0)
        return false;
    bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

void truncate(Handle h, uint64_t bytes) { (void)::ftruncate(fdOf(h), static_cast<off_t>(bytes)); }

int reserve(Handle h, uint64_t end)
{
    uint64_t now = 0;
    if (!size(h, now))
        return errno;
    if (end <= now)
        return 0;
    // Only the new range: where glibc emulates the call (vfat, NFSv3, CIFS)
    // it writes every byte it is given.
    const int err = ::posix_fallocate(fdOf(h), static_cast<off_t>(now), static_cast<off_t>(end - now));
    return err == ENOSYS || err == EINVAL ? EOPNOTSUPP : err;
}

int syncData(Handle h)
{
    if (::fdatasync(fdOf(h)) == 0 || errno == EINVAL) // EINVAL: a file that cannot be synced
        return 0;
    return errno;
}

int replace(const std::string &from, const std::string &to)
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int replaceDurably(Handle h, const std::string &from, const std::string &to)
{
    const std::string dir = std::filesystem::path(to).parent_path().string();
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto syncDir = [&] { return dirFd < 0 || ::fsync(dirFd) == 0 || errno == EINVAL; };
    const bool ok = (::fsync(fdOf(h)) == 0 || errno == EINVAL) && syncDir() &&
                    ::rename(from.c_str(), to.c_str()) == 0 && syncDir();
    const int err = ok ? 0 : errno;
    if (dirFd >= 0)
        ::close(dirFd);
    return err;
}

int moveAside(const std::string &path, const std::string &suffix, std::string &asidePath)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        asidePath = path + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + suffix;
        // A link, then the old name's removal: unlike rename, never over a file.
        if (::link(path.c_str(), asidePath.c_str()) == 0) {
            if (::unlink(path.c_str()) == 0)
                return 0;
            const int err = errno;
            (void)::unlink(asidePath.c_str());
            return err;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

bool sameFile(const std::string &a, const std::string &b)
{
    struct stat x {}, y {};
    return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool renamesOpenFiles() { return true; }

void remove(const std::string &path) { (void)::unlink(path.c_str()); }

// An open file description lock, which HDF5's own flock-based locking leaves
// alone, and which goes with the descriptor's close.
int lockForRecording(Handle h)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fdOf(h), F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

Handle holdAgainstPanels(const std::string &path)
{
    int err = 0;
    const Handle h = openRead(path, err);
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (h != kNone)
        (void)::fcntl(fdOf(h), F_OFD_SETLK, &fl);
    return h;
}

Writer otherWriter(const std::string &path)
{
    int err = 0;
    const Handle h = openRead(path, err);
    if (h == kNone)
        return Writer::None;
    Writer who = Writer::None;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fdOf(h), F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK)
        who = Writer::Panel;
    else if (::flock(fdOf(h), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        who = Writer::Program; // HDF5's writer holds an exclusive flock
    close(h);
    return who;
}

void holdReaderLock(Handle h) { (void)::flock(fdOf(h), LOCK_SH | LOCK_NB); }

void dropReaderLock(Handle h) { (void)::flock(fdOf(h), LOCK_UN); }

bool hdf5MayLock() { return true; }

void ignoreFileSizeSignal()
{
    // A handler someone else installed is left alone.
    struct sigaction old {};
    if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
        ::signal(SIGXFSZ, SIG_IGN);
}

} // namespace adcard::nativefile
