#include "panel/termination.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>

#include <windows.h>

#include <atomic>

namespace adcard {

namespace {

QPointer<QObject> gReceiver;
std::function<void()> *gRequest = nullptr;
std::atomic<bool> gQuitting{false};

void request()
{
    if (gReceiver)
        QMetaObject::invokeMethod(gReceiver.data(), [] { if (gRequest && *gRequest) (*gRequest)(); },
                                  Qt::QueuedConnection);
}

// Runs in a thread of its own, which the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        request();
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // The process ends when this returns: the event loop gets the time
        // the system allows (five seconds) to close the recording, and the
        // program's own end comes first when it is quicker.
        request();
        for (int i = 0; i < 50 && !gQuitting; ++i)
            ::Sleep(100);
        ::Sleep(500);
        return TRUE;
    default:
        return FALSE;
    }
}

// Log-off and shutdown reach a program with windows as messages: agreed to,
// then, once the session really ends, the recording is closed before the
// answer, after which the system may end the process at any time.
class SessionEndFilter final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *result) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_QUERYENDSESSION) {
            *result = TRUE;
            return true;
        }
        if (msg->message == WM_ENDSESSION && msg->wParam) {
            if (gRequest && *gRequest && !gQuitting)
                (*gRequest)();
            const QDeadlineTimer limit(5000);
            while (!gQuitting && !limit.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            *result = 0;
            return true;
        }
        return false;
    }
};

class Receiver final : public QObject {
public:
    explicit Receiver(QObject *parent) : QObject(parent)
    {
        QCoreApplication::instance()->installNativeEventFilter(&filter_);
    }
    ~Receiver() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(&filter_);
    }

private:
    SessionEndFilter filter_;
};

} // namespace

TerminationRequests::TerminationRequests(std::function<void()> onRequest, QObject *parent)
    : QObject(parent), onRequest_(std::move(onRequest))
{
    if (gReceiver || !QCoreApplication::instance() || !::SetConsoleCtrlHandler(onConsoleEvent, TRUE))
        return;
    notifier_ = new Receiver(this);
    gReceiver = notifier_;
    gRequest = &onRequest_;
    gQuitting = false;
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, notifier_, [] { gQuitting = true; });
}

TerminationRequests::~TerminationRequests()
{
    if (!notifier_)
        return;
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    gRequest = nullptr;
    delete notifier_;
    gReceiver = nullptr;
}

} // namespace adcard
