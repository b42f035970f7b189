#pragma once
// The operating system asking the program to end (SIGTERM, SIGINT and SIGHUP
// on POSIX; the console's Ctrl+C, Ctrl+Break and close, and the session's
// end, on Windows): handled as the close box is, in the event loop, so that a
// recording closes with every block fetched before. termination_posix.cpp and
// termination_win32.cpp.
#include <QObject>

#include <functional>


namespace adcard {

class TerminationRequests final : public QObject {
public:
    // Installs the handlers; `onRequest` runs in the event loop. At most one
    // at a time; the first stays.
    TerminationRequests(std::function<void()> onRequest, QObject *parent = nullptr);
    // Gives the requests back their default handling.
    ~TerminationRequests() override;
    bool installed() const { return notifier_ != nullptr; }

private:
    std::function<void()> onRequest_;
    QObject *notifier_ = nullptr; // what hears the requests, while installed
};

} // namespace adcard
