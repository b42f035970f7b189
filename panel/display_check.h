#pragma once
// Whether the program can open a window at all, decided before Qt tries:
// Qt ends a program that has no display with its plugin message and an
// abort (a core dump over ssh). The program says so in one line instead.
#include <QStringList>

#include <functional>
#include <string>

namespace adcard {

using EnvLookup = std::function<const char *(const char *)>;

// Why no window can be opened, from the arguments (-platform) and the
// environment alone; empty when a display may be there. Platforms other
// than xcb and wayland (offscreen, vnc, eglfs…) are left to Qt.
std::string displayProblem(const QStringList &arguments, const EnvLookup &env);

// Guards the QApplication's construction: a display that is named but cannot
// be opened makes Qt give up, and then the program prints one line and ends
// with `status` instead. Messages Qt gives while constructing are passed on
// unless it gives up.
class DisplayGuard {
public:
    explicit DisplayGuard(int status);
    ~DisplayGuard();
    DisplayGuard(const DisplayGuard &) = delete;
    DisplayGuard &operator=(const DisplayGuard &) = delete;
};

} // namespace adcard
