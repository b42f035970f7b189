// Measuring hook linked into panel_probe and minimal_qt. It installs itself
// when the QApplication is constructed, so neither program's main carries a
// line for it, and it does nothing unless ADPANEL_PROBE_SHOWN is set:
//   ADPANEL_PROBE_SHOWN=1     print "expose <ns>" at the first expose of a
//                             top-level window and "shown <ns>" once that
//                             expose, which paints the window, is handled
//   ADPANEL_PROBE_WINDOW=name only the top-level widget of that object name
//                             counts (the panel among several windows)
//   ADPANEL_PROBE_CLICK=name  then click the window's QPushButton of that name
//   ADPANEL_PROBE_TIMER=name  count the timeouts of the window's QTimer of that name
//   ADPANEL_PROBE_LABEL=name  print the text of that QLabel at the end
//   ADPANEL_PROBE_RUN_MS=n    keep running n ms after the click and print the
//                             CPU time used meanwhile, by thread too
//   ADPANEL_PROBE_SMAPS=path  at the end, copy /proc/self/smaps there
// then close the window, the way an operator ends the program.
// Times are CLOCK_MONOTONIC nanoseconds.
#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// steady_clock is CLOCK_MONOTONIC, the clock the launcher and the script read.
long long monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long long processCpuNs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto ns = [](const timeval &tv) { return static_cast<long long>(tv.tv_sec) * 1000000000LL + tv.tv_usec * 1000LL; };
    return ns(ru.ru_utime) + ns(ru.ru_stime);
}

// Plain reads: iostreams would map about 300 KiB of libstdc++ that neither
// program otherwise touches, into the very memory being measured.
std::string readFile(const std::string &path)
{
    std::string out;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return out;
}

// Through a small buffer, so that the copy does not raise the peak it records.
void copyFile(const char *from, const char *to)
{
    const int in = open(from, O_RDONLY | O_CLOEXEC);
    const int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    char buf[4096];
    ssize_t n;
    while (in >= 0 && out >= 0 && (n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, static_cast<std::size_t>(n)) != n)
            break;
    if (in >= 0)
        close(in);
    if (out >= 0)
        close(out);
}

struct ThreadCpu {
    std::string name;
    long long ns = 0;
};

// schedstat counts nanoseconds; stat's clock ticks are too coarse for a
// thread that wakes ten times a second.
std::map<long, ThreadCpu> threadCpu()
{
    std::map<long, ThreadCpu> out;
    DIR *dir = opendir("/proc/self/task");
    if (!dir)
        return out;
    while (dirent *d = readdir(dir)) {
        if (d->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + d->d_name;
        ThreadCpu t;
        t.name = readFile(base + "/comm");
        while (!t.name.empty() && t.name.back() == '\n')
            t.name.pop_back();
        t.ns = std::strtoll(readFile(base + "/schedstat").c_str(), nullptr, 10);
        out[std::strtol(d->d_name, nullptr, 10)] = t;
    }
    closedir(dir);
    return out;
}

long vmHwmKiB()
{
    const std::string status = readFile("/proc/self/status");
    const auto at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

QString envText(const char *name) { return QString::fromLocal8Bit(qgetenv(name)); }

class Probe final : public QObject {
public:
    explicit Probe(QObject *parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!done_ && event->type() == QEvent::Expose) {
            auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed()) {
                const QString only = envText("ADPANEL_PROBE_WINDOW");
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    if (w->windowHandle() == window && (only.isEmpty() || w->objectName() == only)) {
                        done_ = true;
                        std::printf("expose %lld\n", monotonicNs());
                        // Off the event path for the rest of the run.
                        qApp->removeEventFilter(this);
                        // Queued: runs once this expose, and the paint it
                        // triggers, has been handled.
                        QMetaObject::invokeMethod(this, [this, w] { afterFirstPaint(w); }, Qt::QueuedConnection);
                        break;
                    }
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void afterFirstPaint(QWidget *w)
    {
        const long long shown = monotonicNs();
        // CPU to the first paint: unlike the wall time, not inflated by other
        // programs competing for the processor.
        std::printf("shown %lld\nshown_cpu_ns %lld\n", shown, processCpuNs());
        std::fflush(stdout);

        if (const QString name = envText("ADPANEL_PROBE_TIMER"); !name.isEmpty()) {
            if (auto *timer = w->findChild<QTimer *>(name))
                connect(timer, &QTimer::timeout, this, [this] { ++ticks_; });
            else
                std::fprintf(stderr, "probe: no timer %s\n", qPrintable(name));
        }

        threadsBefore_ = threadCpu();
        cpuBefore_ = processCpuNs();
        wallBefore_ = monotonicNs();
        if (const QString name = envText("ADPANEL_PROBE_CLICK"); !name.isEmpty()) {
            if (auto *button = w->findChild<QPushButton *>(name))
                button->click();
            else
                std::fprintf(stderr, "probe: no button %s\n", qPrintable(name));
        }

        const int runMs = qEnvironmentVariableIntValue("ADPANEL_PROBE_RUN_MS");
        if (runMs <= 0) {
            w->close();
            return;
        }
        // The window may close on its own meanwhile (Exit, a failure).
        QTimer::singleShot(runMs, Qt::PreciseTimer, this, [this, window = QPointer<QWidget>(w)] {
            if (!window) {
                std::fprintf(stderr, "probe: the window closed before the end of the run\n");
                return;
            }
            report(window);
            window->close();
        });
    }

    void report(QWidget *w)
    {
        const long long wall = monotonicNs() - wallBefore_;
        const long long cpu = processCpuNs() - cpuBefore_;
        std::printf("run_wall_ns %lld\nrun_cpu_ns %lld\nticks %d\nvmhwm_kib %ld\n", wall, cpu, ticks_, vmHwmKiB());
        for (const auto &[tid, t] : threadCpu()) {
            const auto before = threadsBefore_.find(tid);
            const bool fresh = before == threadsBefore_.end();
            std::printf("thread %ld %s %s %lld\n", tid, fresh ? "new" : "old", t.name.c_str(),
                        t.ns - (fresh ? 0 : before->second.ns));
        }
        if (const QString name = envText("ADPANEL_PROBE_LABEL"); !name.isEmpty()) {
            const auto *label = w->findChild<QLabel *>(name);
            std::printf("label %s\n", label ? qPrintable(label->text()) : "(none)");
        }
        if (const QByteArray path = qgetenv("ADPANEL_PROBE_SMAPS"); !path.isEmpty())
            copyFile("/proc/self/smaps", path.constData());
        std::fflush(stdout);
    }

    bool done_ = false;
    int ticks_ = 0;
    long long cpuBefore_ = 0;
    long long wallBefore_ = 0;
    std::map<long, ThreadCpu> threadsBefore_;
};

void installProbe()
{
    if (qEnvironmentVariableIsEmpty("ADPANEL_PROBE_SHOWN"))
        return;
    qApp->installEventFilter(new Probe(qApp));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
