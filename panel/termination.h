#pragma once
// The operating system asking the program to end (SIGTERM, SIGINT and SIGHUP
// on POSIX): handled as the close box is, in the event loop, so that a
// recording closes with every block fetched before. The one part of the panel
// that differs by system; a Windows build would answer the console's
// close events here instead.
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace adcard {

class TerminationRequests final : public QObject {
public:
    // Installs the handlers; `onRequest` runs in the event loop. At most one
    // at a time; the first stays.
    TerminationRequests(std::function<void()> onRequest, QObject *parent = nullptr);
    // Gives the signals back their default handling.
    ~TerminationRequests() override;
    bool installed() const { return notifier_ != nullptr; }

private:
    std::function<void()> onRequest_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace adcard
