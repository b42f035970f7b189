#include "driver/child_process.h"

#include "platform/utf8_path.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace adcard {

namespace {

std::string systemText(DWORD code)
{
    wchar_t text[512] = {};
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                     text, 512, nullptr);
    std::string s = narrow(std::wstring_view(text, n));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.'))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

// A crash shows as the exception's code; a plain exit as its status.
std::string statusText(DWORD code)
{
    if (code >= 0xC0000000u) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
        const char *name = code == 0xC0000005u   ? " (access violation)"
                           : code == 0xC00000FDu ? " (stack overflow)"
                           : code == 0xC0000409u ? " (aborted)"
                                                 : "";
        return std::string("crashed with exception ") + hex + name;
    }
    return "exited with status " + std::to_string(code);
}

struct Native {
    HANDLE process = nullptr;
    HANDLE readDone = nullptr;
    OVERLAPPED read{};
    bool reading = false; // a read in flight, into inbox_
};

HANDLE handleOf(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

void closeHandle(std::intptr_t &h)
{
    if (h != -1)
        ::CloseHandle(handleOf(h));
    h = -1;
}

// Quoted as CommandLineToArgvW, and so the C runtime, splits it again.
std::wstring quoted(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
        } else if (c == L'"') {
            out.append(2 * slashes + 1, L'\\');
            slashes = 0;
        } else {
            slashes = 0;
        }
        out += c;
    }
    out.append(2 * slashes, L'\\');
    return out + L'"';
}

} // namespace

ChildProcess::~ChildProcess()
{
    // The host ends at the end of its input.
    auto *n = static_cast<Native *>(native_.get());
    closeHandle(toChild_);
    if (n && n->process && ::WaitForSingleObject(n->process, 500) == WAIT_OBJECT_0) {
        end();
        return;
    }
    end();
}

namespace {

// The host's standard input and output. The panel's end of the replies is a
// named pipe opened for overlapped reads, so that a read can wait with a
// deadline; anonymous pipes cannot. Its ends for the child are inheritable.
struct Pipes {
    HANDLE replies = INVALID_HANDLE_VALUE, childOut = INVALID_HANDLE_VALUE;
    HANDLE childIn = nullptr, requests = nullptr;

    bool make(std::string &why)
    {
        static std::atomic<unsigned> serial{0};
        const std::wstring name = L"\\\\.\\pipe\\adcard-host-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(serial++);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        replies = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 1 << 16, 0, nullptr);
        if (replies != INVALID_HANDLE_VALUE)
            childOut = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        if (childOut == INVALID_HANDLE_VALUE || !::CreatePipe(&childIn, &requests, &inherit, 1 << 16) ||
            !::SetHandleInformation(requests, HANDLE_FLAG_INHERIT, 0)) {
            why = systemText(::GetLastError());
            closeAll();
            return false;
        }
        return true;
    }
    // The child's ends, once it has them (or failed to start).
    void closeChildEnds()
    {
        for (HANDLE *h : {&childIn, &childOut})
            if (*h && *h != INVALID_HANDLE_VALUE)
                ::CloseHandle(std::exchange(*h, nullptr));
    }
    void closeAll()
    {
        closeChildEnds();
        for (HANDLE *h : {&replies, &requests})
            if (*h && *h != INVALID_HANDLE_VALUE)
                ::CloseHandle(std::exchange(*h, nullptr));
    }
};

// Starts `line` with the pipes as its standard input and output, passing it
// those and standard error only; false with the system's error in `err`.
bool createProcess(std::wstring line, const Pipes &pipes, PROCESS_INFORMATION &pi, DWORD &err)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = pipes.childIn;
    si.hStdOutput = pipes.childOut;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    // Only these three are inherited.
    HANDLE handles[3] = {pipes.childIn, pipes.childOut, si.hStdError};
    const DWORD count = si.hStdError && si.hStdError != INVALID_HANDLE_VALUE &&
                                ::SetHandleInformation(si.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)
                            ? 3
                            : 2;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> list(size);
    auto *attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    const bool listed = ::InitializeProcThreadAttributeList(attrs, 1, 0, &size) &&
                        ::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                                    count * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW six{};
    six.StartupInfo = si;
    six.StartupInfo.cb = sizeof six;
    six.lpAttributeList = listed ? attrs : nullptr;
    // A crash in the driver ends the host without the system's crash dialog
    // (the error mode is inherited), and the panel carries on. Ctrl+C at a
    // console reaches only the panel, which ends the host in order.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const BOOL made = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                       CREATE_NEW_PROCESS_GROUP | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0),
                                       nullptr, nullptr, listed ? &six.StartupInfo : &si, &pi);
    err = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (listed)
        ::DeleteProcThreadAttributeList(attrs);
    return made;
}

} // namespace

bool ChildProcess::start(const std::vector<std::string> &argv, std::string &why)
{
    if (argv.empty()) {
        why = "no program";
        return false;
    }
    Pipes pipes;
    if (!pipes.make(why))
        return false;
    std::wstring line;
    for (const std::string &a : argv)
        line += (line.empty() ? L"" : L" ") + quoted(widen(a));
    PROCESS_INFORMATION pi{};
    DWORD err = 0;
    const bool made = createProcess(std::move(line), pipes, pi, err);
    pipes.closeChildEnds();
    if (!made) {
        pipes.closeAll();
        why = systemText(err);
        return false;
    }
    ::CloseHandle(pi.hThread);
    auto native = std::make_shared<Native>();
    native->process = pi.hProcess;
    native->readDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    native_ = native;
    pid_ = static_cast<int>(pi.dwProcessId);
    toChild_ = reinterpret_cast<std::intptr_t>(pipes.requests);
    fromChild_ = reinterpret_cast<std::intptr_t>(pipes.replies);
    return true;
}

ChildProcess::Io ChildProcess::writeAll(std::span<const uint8_t> bytes, std::string &why)
{
    if (toChild_ == -1)
        return Io::Closed;
    while (!bytes.empty()) {
        DWORD put = 0;
        if (!::WriteFile(handleOf(toChild_), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr)) {
            const DWORD e = ::GetLastError();
            why = systemText(e);
            return e == ERROR_BROKEN_PIPE || e == ERROR_NO_DATA ? Io::Closed : Io::Failed;
        }
        bytes = bytes.subspan(put);
    }
    return Io::Ok;
}

ChildProcess::Io ChildProcess::readExact(std::span<uint8_t> bytes, Clock::time_point deadline, std::string &why)
{
    auto *n = static_cast<Native *>(native_.get());
    if (fromChild_ == -1 || !n)
        return Io::Closed;
    while (!bytes.empty()) {
        if (inboxAt_ < inboxEnd_) {
            const std::size_t k = std::min(bytes.size(), inboxEnd_ - inboxAt_);
            std::memcpy(bytes.data(), inbox_.data() + inboxAt_, k);
            inboxAt_ += k;
            bytes = bytes.subspan(k);
            continue;
        }
        if (!n->reading) {
            // The buffer is not touched while a read is in flight.
            if (inbox_.size() < bytes.size() || inbox_.empty())
                inbox_.resize(std::max<std::size_t>(bytes.size(), 64 * 1024));
            n->read = OVERLAPPED{};
            n->read.hEvent = n->readDone;
            ::ResetEvent(n->readDone);
            inboxAt_ = inboxEnd_ = 0;
            if (!::ReadFile(handleOf(fromChild_), inbox_.data(), static_cast<DWORD>(inbox_.size()), nullptr,
                            &n->read)) {
                const DWORD e = ::GetLastError();
                if (e == ERROR_BROKEN_PIPE)
                    return Io::Closed;
                if (e != ERROR_IO_PENDING) {
                    why = systemText(e);
                    return Io::Failed;
                }
            }
            n->reading = true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Io::TimedOut; // the read stays in flight for the next call, or end()
        if (::WaitForSingleObject(n->readDone, static_cast<DWORD>(left)) == WAIT_TIMEOUT)
            continue;
        DWORD got = 0;
        n->reading = false;
        if (!::GetOverlappedResult(handleOf(fromChild_), &n->read, &got, FALSE)) {
            const DWORD e = ::GetLastError();
            if (e == ERROR_BROKEN_PIPE)
                return Io::Closed;
            why = systemText(e);
            return Io::Failed;
        }
        if (got == 0)
            return Io::Closed;
        inboxAt_ = 0;
        inboxEnd_ = got;
    }
    return Io::Ok;
}

std::string ChildProcess::end()
{
    auto *n = static_cast<Native *>(native_.get());
    closeHandle(toChild_);
    if (n && n->reading && fromChild_ != -1) {
        ::CancelIoEx(handleOf(fromChild_), &n->read);
        DWORD got = 0;
        ::GetOverlappedResult(handleOf(fromChild_), &n->read, &got, TRUE);
        n->reading = false;
    }
    closeHandle(fromChild_);
    if (!n || !n->process)
        return "was not running";
    std::string said;
    // A moment for its own exit status, then killed; a driver stuck inside
    // the kernel ends only when its call returns, which the window does not
    // wait for beyond a second.
    if (::WaitForSingleObject(n->process, 50) != WAIT_OBJECT_0) {
        ::TerminateProcess(n->process, 1);
        if (::WaitForSingleObject(n->process, 1000) != WAIT_OBJECT_0)
            said = "was killed and had not ended a second later";
    }
    DWORD code = 0;
    if (said.empty())
        said = ::GetExitCodeProcess(n->process, &code) ? statusText(code) : "could not be waited for";
    ::CloseHandle(n->process);
    n->process = nullptr;
    if (n->readDone)
        ::CloseHandle(n->readDone);
    n->readDone = nullptr;
    pid_ = -1;
    return said;
}

} // namespace adcard
