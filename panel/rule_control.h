#pragma once
// The panel's side of the rules: arming a rules file (from --rules or the
// rules dialog), keeping the saved rules, and doing what a rule asks that
// cannot be done inside the tick: closing a recording, stopping the
// acquisition, raising an alarm. Each is handed to the event loop, so that
// the tick that saw the event ends first.
#include "acquisition/rule_runner.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace adcard {

class Acquisition;
class RuleRunner;


struct RuleAlarm {
    std::string rule;
    int64_t scan = 0;
    std::string valueText;
    qint64 msecsSinceEpoch = 0; // when the panel saw it
    int repeats = 0; // firings of the same rule since, until acknowledged
};

// The banner's line of the bits the rules own: "规则占用输出位：组0 位0、2（现为 0x05）",
// or empty when no armed rule drives an output.
QString ownedOutputsText(const RuleRunner &runner);
// One alarm as the banner shows it: "报警 过压 14:42:22  4.1245 V".
QString alarmText(const RuleAlarm &alarm);

class RuleControl final : public QObject, public RuleListener {
    Q_OBJECT
public:
    struct Actions {
        std::function<void(const std::string &rule)> stopAcquisition;
        std::function<void(const std::string &rule)> stopRecording;
    };
    RuleControl(Acquisition &acquisition, Actions actions);
    ~RuleControl() override;

    // Reads, checks and arms the rules of `path` against the channels'
    // present units; the operator's message why not otherwise (the rule,
    // the key and the line), with nothing armed.
    std::optional<std::string> armFile(const QString &path);
    // Arms rules given as a file's text; as armFile.
    std::optional<std::string> armText(const std::string &text, const std::string &from);
    void disarm();
    bool armed() const;

    // One per rule: its first firing since the last acknowledgement.
    const std::vector<RuleAlarm> &alarms() const { return alarms_; }
    // Ends the alarms and the latched outputs.
    void acknowledge();

    // The rules kept in the user's settings (not armed by a plain start).
    static std::string savedRules();
    static std::string saveRules(const std::string &text); // why not, or empty

    // RuleListener
    void ruleStops(rules::StopWhat what, std::string_view rule) override;
    void ruleAlarm(std::string_view rule, int64_t scan, std::string_view valueText) override;
    void ruleOutputsChanged() override;

signals:
    void alarmsChanged();
    void outputsChanged();
    void armedChanged();

private:
    Acquisition &acquisition_;
    Actions actions_;
    std::vector<RuleAlarm> alarms_;
};

} // namespace adcard
