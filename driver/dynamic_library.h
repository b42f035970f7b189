#pragma once
// The operating system's loader of shared libraries, behind three calls, so
// that DriverLoader is the same code on Linux (dlopen) and in the Windows
// driver host (LoadLibrary).
#include <string>

namespace adcard::dynlib {

using Handle = void *;

// Null on failure, with the system's reason in `why`.
Handle open(const std::string &name, std::string &why);
void *symbol(Handle library, const std::string &name, std::string &why);
// The file the system picked for `library`; empty if it cannot say.
std::string path(Handle library);

} // namespace adcard::dynlib
