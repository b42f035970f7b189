#pragma once
// What the program's start asks of the system, one version per system
// (system_posix.cpp, system_win32.cpp).
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace adcard::sys {

// The arguments as typed: Windows hands main() its arguments in the ANSI
// code page, which cannot hold every file name.
QStringList arguments(int argc, char **argv);
// The program's folder, before any QCoreApplication exists.
QString programDir();
// A path as the system's file calls (HDF5's among them) take it.
std::string nativePath(const QString &path);
// Why no file can be created in `folder`; empty when one can.
std::string folderWriteProblem(const QString &folder);
// The size in bytes of the disk that holds `folder` (free and used); none
// if it cannot be told.
std::optional<int64_t> diskSize(const QString &folder);
// The Qt platform plugins tried when none is named.
QString defaultPlatforms(const std::function<const char *(const char *)> &env);
// The driver host's file name, and whether the card's driver is reached
// through it without --driver-host (a 32-bit driver and a 64-bit panel).
QString hostProgramName();
bool driverInHostByDefault();
// The driver library the host is to load instead of its own default name,
// where a launcher names one (the simulated card's); empty otherwise.
std::string driverLibraryOverride();

} // namespace adcard::sys
