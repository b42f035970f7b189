#include "panel/termination.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace adcard {

namespace {

// The handler only writes a byte; the event loop does the rest.
int gPipe[2] = {-1, -1};

void onSignal(int)
{
    // The interrupted code may be about to read errno.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace

TerminationRequests::TerminationRequests(std::function<void()> onRequest, QObject *parent)
    : QObject(parent), onRequest_(std::move(onRequest))
{
    if (gPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0)
        return;
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(static_cast<QSocketNotifier *>(notifier_), &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(gPipe[0], &byte, 1);
        if (onRequest_)
            onRequest_();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

TerminationRequests::~TerminationRequests()
{
    if (!notifier_)
        return;
    for (int sig : kSignals)
        std::signal(sig, SIG_DFL);
    delete notifier_;
    for (int &fd : gPipe) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace adcard
