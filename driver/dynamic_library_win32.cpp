#include "driver/dynamic_library.h"

#include "platform/utf8_path.h"

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>

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

// The machine a DLL was built for, from its PE header: 0 if it cannot say.
unsigned machineOf(const std::wstring &file)
{
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
    unsigned char dos[64] = {}, pe[6] = {};
    if (!in.read(reinterpret_cast<char *>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    const uint32_t at = dos[60] | dos[61] << 8 | dos[62] << 16 | uint32_t(dos[63]) << 24;
    if (!in.seekg(at) || !in.read(reinterpret_cast<char *>(pe), sizeof pe) || pe[0] != 'P' || pe[1] != 'E')
        return 0;
    return pe[4] | pe[5] << 8;
}

// Why a DLL the system found would not load here: the file it found, and
// the machine it was built for when that is not this process's.
std::string badFormat(const std::string &name)
{
    wchar_t found[MAX_PATH] = {};
    const std::wstring wide = widen(name);
    if (::SearchPathW(nullptr, wide.c_str(), nullptr, MAX_PATH, found, nullptr) == 0)
        return "not a DLL for this system";
    const unsigned machine = machineOf(found);
    const std::string file = narrow(found);
    constexpr unsigned own = sizeof(void *) == 8 ? 0x8664 : 0x14c;
    if (machine == 0x8664 && machine != own)
        return file + " is a 64-bit DLL; the card's driver must be a 32-bit one";
    if (machine == 0x14c && machine != own)
        return file + " is a 32-bit DLL; this program needs a 64-bit one";
    return file + " is not a Windows DLL this program can load";
}
} // namespace

Handle open(const std::string &name, std::string &why)
{
    HMODULE h = ::LoadLibraryW(widen(name).c_str());
    if (!h) {
        const DWORD code = ::GetLastError();
        why = code == ERROR_BAD_EXE_FORMAT ? badFormat(name) : systemMessage(code);
    }
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
    wchar_t file[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(reinterpret_cast<HMODULE>(library), file, MAX_PATH);
    return narrow(std::wstring_view(file, n));
}

} // namespace adcard::dynlib
