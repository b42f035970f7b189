#include "recording/disk_space.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace adcard::disk {

int64_t freeBytes(const std::string &folder)
{
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0)
        return -1;
    // f_bavail: what is left to a user who is not root.
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

std::vector<Entry> listFiles(const std::string &folder)
{
    std::vector<Entry> out;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        struct stat st {};
        if (::stat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        out.push_back({name, int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec});
    }
    ::closedir(dir);
    return out;
}

int removeFile(const std::string &path)
{
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

} // namespace adcard::disk
