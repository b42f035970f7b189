#include "channels/channel_store.h"

#include "channels/user_settings.h"

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

QString key(int c, const char *what) { return QStringLiteral("channel%1/%2").arg(c + 1).arg(QLatin1String(what)); }

} // namespace

ChannelUnits loadChannelUnits(int channels)
{
    const QSettings s = userSettings();
    ChannelUnits units(static_cast<std::size_t>(std::max(channels, 0)));
    for (int c = 0; c < channels; ++c) {
        ChannelUnit &u = units[static_cast<std::size_t>(c)];
        u.name = s.value(key(c, "name")).toString().toStdString();
        u.unit = s.value(key(c, "unit"), QStringLiteral("V")).toString().toStdString();
        bool ok = false;
        u.scale = s.value(key(c, "scale"), 1.0).toDouble(&ok);
        if (!ok)
            u.scale = 0; // refused below
        u.offset = s.value(key(c, "offset"), 0.0).toDouble(&ok);
        if (!ok)
            u.offset = NAN;
    }
    return checkedUnits(std::move(units));
}

std::string saveChannelUnits(const ChannelUnits &units)
{
    QSettings s = userSettings();
    for (std::size_t c = 0; c < units.size(); ++c) {
        const ChannelUnit &u = units[c];
        const int n = static_cast<int>(c);
        s.setValue(key(n, "name"), QString::fromStdString(u.name));
        s.setValue(key(n, "unit"), QString::fromStdString(u.unit));
        s.setValue(key(n, "scale"), u.scale);
        s.setValue(key(n, "offset"), u.offset);
    }
    s.sync();
    if (s.status() != QSettings::NoError)
        return "无法保存到 " + s.fileName().toStdString() + "（权限或磁盘问题）";
    return {};
}

} // namespace adcard
