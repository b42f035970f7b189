#pragma once
// The user's settings of this program: one INI file under the user's
// configuration folder on every system (~/.config/adcard/adcard-panel.ini,
// %APPDATA%\adcard\adcard-panel.ini), so that it can be read, copied and
// backed up as a file. The channels' units, the saved rules and the windows'
// places all live there.
#include <QSettings>

namespace adcard {

inline QSettings userSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("adcard"),
                     QStringLiteral("adcard-panel"));
}

} // namespace adcard
