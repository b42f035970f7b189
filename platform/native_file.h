#pragma once
// The file calls the recording and the CSV export make beside HDF5's own, one
// version per system (native_file_posix.cpp, native_file_win32.cpp). Paths are
// UTF-8. Failures are errno values on both systems, so that std::strerror
// words them.
#include <cstddef>
#include <cstdint>
#include <string>

namespace adcard::nativefile {

// A descriptor on POSIX, a HANDLE on Windows; kNone when there is none.
using Handle = std::intptr_t;
inline constexpr Handle kNone = -1;

enum class Kind { Missing, File, Directory, Unknown };
Kind kindOf(const std::string &path, int &err);

// Creates `path`, which must not exist, for reading and writing.
Handle createNew(const std::string &path, int &err);
// Creates a file of its own name in the folder of `path`, hidden from a file
// dialog, with the permissions `path` has; its name goes to `tempPath`.
Handle createBeside(const std::string &path, const std::string &suffix, std::string &tempPath, int &err);
Handle openRead(const std::string &path, int &err);
// 0 or an errno value (a network file system may report a lost write here).
int close(Handle h);

// Whole, or an errno value.
int writeAll(Handle h, const void *data, std::size_t bytes);
bool readAt(Handle h, void *into, std::size_t bytes, uint64_t at);
bool size(Handle h, uint64_t &bytes);
// Makes the file `bytes` long (a best effort, for giving back room).
void truncate(Handle h, uint64_t bytes);
// Grows the file to `end` with room on the disk behind it: 0, ENOSPC or
// EFBIG when the disk or a limit refuses, EOPNOTSUPP when it cannot be done
// here, another errno value otherwise.
int reserve(Handle h, uint64_t end);
// The file's data on the disk: 0 or an errno value.
int syncData(Handle h);

// Replaces `to` by `from` at once; 0 or an errno value. What createBeside
// hid is shown under its final name.
int replace(const std::string &from, const std::string &to);
// Renames `path` to a new name of its own beside it (the name, ending in
// `suffix`, goes to `asidePath`), never over another file; 0 or an errno
// value (EBUSY where another program holds it open and will not share it).
int moveAside(const std::string &path, const std::string &suffix, std::string &asidePath);
// Whether both names lead to one file (the same device and inode, or volume
// and file ID): a hard link, a path spelt otherwise. False if either is missing.
bool sameFile(const std::string &a, const std::string &b);
// The same for the file open as `h`, with its data and the rename on the
// disk, so that a power cut leaves one file or the other whole.
int replaceDurably(Handle h, const std::string &from, const std::string &to);
// Whether a file that HDF5 has open can be renamed (not on Windows, where
// HDF5 opens files without sharing their deletion).
bool renamesOpenFiles();
void remove(const std::string &path);

// The lock a panel holds on the file it records, for the whole recording:
// other panels test it with otherWriter. 0 or an errno value.
int lockForRecording(Handle h);
// Opens `path` and holds a lock on it that other panels' otherWriter sees,
// until it is closed; kNone if it cannot be opened.
Handle holdAgainstPanels(const std::string &path);
// Whether the file is being written: by another panel, or by another program
// through HDF5.
enum class Writer { None, Panel, Program };
Writer otherWriter(const std::string &path);
// A shared lock of HDF5's kind, held between HDF5's own opens where it
// refuses other HDF5 writers and admits readers; nothing where locks bind
// the holder's own writes too.
void holdReaderLock(Handle h);
void dropReaderLock(Handle h);
// Whether HDF5 may lock the files it writes: where locks bind every handle,
// its lock over the whole file would refuse the reserve's own calls.
bool hdf5MayLock();

// Past the file size limit POSIX kernels end the program with a signal;
// ignored, the write fails and the recording stops with a message instead.
void ignoreFileSizeSignal();

} // namespace adcard::nativefile
