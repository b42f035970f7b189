#include "driver/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

extern char **environ;

namespace adcard {

namespace {

std::string errnoText(int e) { return std::strerror(e); }

std::string statusText(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char *name = ::strsignal(sig);
        return "was killed by signal " + std::to_string(sig) + (name ? " (" + std::string(name) + ")" : "");
    }
    return "ended";
}

void closeFd(std::intptr_t &fd)
{
    if (fd >= 0)
        ::close(static_cast<int>(fd));
    fd = -1;
}

// 1 once the child has ended, 0 while it runs, -1 if it cannot be asked.
// It is not reaped: its process id, and so its group's, stays taken until
// it is waited for.
int ended(pid_t pid)
{
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == EINTR ? 0 : -1;
    return info.si_pid == pid ? 1 : 0;
}

// A child stuck in the kernel ends when its call returns, perhaps much
// later: a thread of its own waits for it then, so that it leaves no zombie.
void reapLater(pid_t pid)
{
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error &) {
    }
}

} // namespace

ChildProcess::~ChildProcess()
{
    closeFd(toChild_); // the host ends at the end of its input
    closeFd(fromChild_);
    if (pid_ <= 0)
        return;
    for (int i = 0; i < 50 && ended(pid_) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    end(); // whatever of its group is left, and the reaping
}

bool ChildProcess::start(const std::vector<std::string> &argv, std::string &why)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        why = errnoText(errno);
        return false;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        why = errnoText(errno);
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawnattr_init(&attr);
    sigset_t none, pipeOnly;
    sigemptyset(&none);
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &pipeOnly);
    ::posix_spawnattr_setpgroup(&attr, 0);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        why = errnoText(rc);
        return false;
    }
    pid_ = pid;
    toChild_ = in[1];
    fromChild_ = out[0];
    return true;
}

ChildProcess::Io ChildProcess::writeAll(std::span<const uint8_t> bytes, std::string &why)
{
    if (toChild_ < 0)
        return Io::Closed;
    // A write to a child that has gone raises SIGPIPE, which would end the
    // panel: it is blocked here and, if this write raised it, taken back.
    sigset_t pipeOnly, old, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    Io io = Io::Ok;
    while (!bytes.empty()) {
        const ssize_t n = ::write(static_cast<int>(toChild_), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            io = errno == EPIPE ? Io::Closed : Io::Failed;
            why = errnoText(errno);
            if (errno == EPIPE && !wasPending) {
                const timespec zero{};
                ::sigtimedwait(&pipeOnly, nullptr, &zero);
            }
            break;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return io;
}

ChildProcess::Io ChildProcess::readExact(std::span<uint8_t> bytes, Clock::time_point deadline, std::string &why)
{
    if (fromChild_ < 0)
        return Io::Closed;
    while (!bytes.empty()) {
        if (inboxAt_ < inboxEnd_) {
            const std::size_t n = std::min(bytes.size(), inboxEnd_ - inboxAt_);
            std::memcpy(bytes.data(), inbox_.data() + inboxAt_, n);
            inboxAt_ += n;
            bytes = bytes.subspan(n);
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Io::TimedOut;
        pollfd p{static_cast<int>(fromChild_), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            why = errnoText(errno);
            return Io::Failed;
        }
        if (ready == 0)
            continue; // the deadline is checked at the top
        if (inbox_.size() < bytes.size() || inbox_.empty())
            inbox_.resize(std::max<std::size_t>(bytes.size(), 64 * 1024));
        const ssize_t n = ::read(static_cast<int>(fromChild_), inbox_.data(), inbox_.size());
        inboxAt_ = 0;
        inboxEnd_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = errnoText(errno);
            return Io::Failed;
        }
        if (n == 0)
            return Io::Closed;
    }
    return Io::Ok;
}

std::string ChildProcess::end()
{
    closeFd(toChild_);
    closeFd(fromChild_);
    if (pid_ <= 0)
        return "was not running";
    const pid_t pid = std::exchange(pid_, -1);
    // A child that closed its output is usually a moment from its end: a
    // moment is given for its own exit status before it is killed.
    int done = 0;
    for (int i = 0; i < 10 && (done = ended(pid)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done < 0)
        return "could not be waited for";
    // Its whole group, even when it has ended itself: a wrapper that does
    // not exec (a script around wine) leaves the driver's processes behind,
    // holding the card.
    ::kill(-pid, SIGKILL);
    if (done == 0)
        ::kill(pid, SIGKILL); // in case it left its group
    // A driver stuck inside the kernel dies only when its call returns,
    // which may be never: the window does not wait for it beyond a second.
    for (int i = 0; i < 100 && (done = ended(pid)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        reapLater(pid);
        return "was killed and had not ended a second later";
    }
    int status = 0;
    pid_t r = -1;
    while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return r == pid ? statusText(status) : "could not be waited for";
}

} // namespace adcard
