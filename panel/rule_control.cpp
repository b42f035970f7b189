#include "panel/rule_control.h"

#include "acquisition/acquisition.h"
#include "channels/channel_store.h"
#include "channels/user_settings.h"
#include "rules/rules.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <variant>

namespace adcard {

namespace {

// The rules files this program reads are small; a larger file is not one.
constexpr qint64 kLargestRulesFile = 1 << 20;

} // namespace

QString ownedOutputsText(const RuleRunner &runner)
{
    QStringList groups;
    for (int g = 0; g < 2; ++g) {
        const uint8_t owned = runner.ownedMask(g);
        if (!owned)
            continue;
        QStringList bits;
        for (int b = 0; b < 8; ++b)
            if (owned & (1u << b))
                bits << QString::number(b);
        QString text = QStringLiteral("组%1 位").arg(g) + bits.join(QStringLiteral("、"));
        const int last = runner.lastWritten()[std::size_t(g)];
        if (last >= 0)
            text += QStringLiteral("（现为 0x%1）").arg(QString::number(last, 16).toUpper().rightJustified(2, u'0'));
        groups << text;
    }
    if (groups.isEmpty())
        return {};
    return QStringLiteral("规则占用输出位：") + groups.join(QStringLiteral("；")) +
           QStringLiteral("。输出按钮只写其余的位。");
}

QString alarmText(const RuleAlarm &alarm)
{
    return QStringLiteral("报警 ") + QString::fromStdString(alarm.rule) + QLatin1Char(' ') +
           QDateTime::fromMSecsSinceEpoch(alarm.msecsSinceEpoch).toString(QStringLiteral("HH:mm:ss")) +
           QStringLiteral("  ") + QString::fromStdString(alarm.valueText) +
           (alarm.repeats > 0 ? QStringLiteral("（此后又触发 %1 次）").arg(alarm.repeats) : QString());
}

RuleControl::RuleControl(Acquisition &acquisition, Actions actions)
    : acquisition_(acquisition), actions_(std::move(actions))
{
    acquisition_.rules().setListener(this);
}

RuleControl::~RuleControl()
{
    acquisition_.rules().setListener(nullptr);
}

std::optional<std::string> RuleControl::armFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "cannot read the rules file " + path.toStdString() + ": " + file.errorString().toStdString();
    if (file.size() > kLargestRulesFile)
        return "the rules file " + path.toStdString() + " is larger than 1 MiB";
    const QByteArray bytes = file.readAll();
    return armText(bytes.toStdString(), path.toStdString());
}

std::optional<std::string> RuleControl::armText(const std::string &text, const std::string &from)
{
    const ChannelUnits units = loadChannelUnits(4);
    auto parsed = rules::parseRules(text, units);
    if (const auto *error = std::get_if<rules::RuleError>(&parsed))
        return from + ": " + error->message();
    acquisition_.armRules(std::get<rules::RuleSet>(std::move(parsed)), units);
    emit armedChanged();
    return std::nullopt;
}

void RuleControl::disarm()
{
    acquisition_.disarmRules();
    alarms_.clear();
    emit alarmsChanged();
    emit armedChanged();
}

bool RuleControl::armed() const
{
    return acquisition_.rules().armed();
}

void RuleControl::acknowledge()
{
    acquisition_.rules().acknowledge();
    if (!alarms_.empty()) {
        alarms_.clear();
        emit alarmsChanged();
    }
}

std::string RuleControl::savedRules()
{
    return userSettings().value(QStringLiteral("rules/text")).toString().toStdString();
}

std::string RuleControl::saveRules(const std::string &text)
{
    QSettings s = userSettings();
    s.setValue(QStringLiteral("rules/text"), QString::fromStdString(text));
    s.sync();
    return s.status() == QSettings::NoError ? std::string{} : "the settings file could not be written";
}

void RuleControl::ruleStops(rules::StopWhat what, std::string_view rule)
{
    // After the tick: a recording's close and a Stop are not work for it.
    const std::string name(rule);
    QTimer::singleShot(0, this, [this, what, name] {
        if (what == rules::StopWhat::Acquisition && actions_.stopAcquisition)
            actions_.stopAcquisition(name);
        else if (what == rules::StopWhat::Recording && actions_.stopRecording)
            actions_.stopRecording(name);
    });
}

void RuleControl::ruleAlarm(std::string_view rule, int64_t scan, std::string_view valueText)
{
    const auto same = std::find_if(alarms_.begin(), alarms_.end(), [&](const RuleAlarm &a) { return a.rule == rule; });
    if (same != alarms_.end())
        ++same->repeats;
    else
        alarms_.push_back({std::string(rule), scan, std::string(valueText), QDateTime::currentMSecsSinceEpoch()});
    emit alarmsChanged();
}

void RuleControl::ruleOutputsChanged()
{
    emit outputsChanged();
}

} // namespace adcard
