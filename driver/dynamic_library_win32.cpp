#include "driver/dynamic_library.h"

#include <windows.h>

#include <cstring>

namespace adcard::dynlib {

namespace {
std::string systemMessage(DWORD code)
{
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                     text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.'))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}
} // namespace

Handle open(const std::string &name, std::string &why)
{
    HMODULE h = ::LoadLibraryA(name.c_str());
    if (!h)
        why = systemMessage(::GetLastError());
    return reinterpret_cast<Handle>(h);
}

void *symbol(Handle library, const std::string &name, std::string &why)
{
    FARPROC p = ::GetProcAddress(reinterpret_cast<HMODULE>(library), name.c_str());
    if (!p) {
        why = systemMessage(::GetLastError());
        return nullptr;
    }
    // A code address in a data pointer, as dlsym gives it.
    void *q = nullptr;
    static_assert(sizeof q == sizeof p);
    std::memcpy(&q, &p, sizeof q);
    return q;
}

std::string path(Handle library)
{
    char file[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(reinterpret_cast<HMODULE>(library), file, sizeof file);
    return std::string(file, n);
}

} // namespace adcard::dynlib
