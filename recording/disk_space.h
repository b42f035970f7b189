#pragma once
// The recording folder as the series and its retention see it, one version
// per system (disk_space_posix.cpp, disk_space_win32.cpp). Paths are UTF-8.
#include <cstdint>
#include <string>
#include <vector>

namespace adcard::disk {

// The bytes a program without special rights may still write on the file
// system that holds `folder`; -1 when the system does not say.
int64_t freeBytes(const std::string &folder);

struct Entry {
    std::string name;    // the file's name, without the folder
    int64_t mtimeNs = 0; // last modified, ns since 1970
};
// The plain files of `folder`; empty when it cannot be read.
std::vector<Entry> listFiles(const std::string &folder);

// 0, or an errno value (a file in use where the system refuses that).
int removeFile(const std::string &path);

} // namespace adcard::disk
