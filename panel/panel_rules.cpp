// The program's wiring of the rules: what a rule's stop does to the panel,
// the recording and an unattended run, and the rules' banner and dialog in
// the history window.
#include "panel/panel_app.h"

#include "acquisition/acquisition.h"
#include "channels/channel_store.h"
#include "history/history_window.h"
#include "history/rule_banner.h"
#include "history/rules_dialog.h"
#include "panel/frm_multibuf.h"
#include "panel/recording_control.h"
#include "panel/rule_control.h"
#include "panel/unattended_run.h"

#include <QPushButton>

#include <cstdio>

namespace adcard {

void PanelProgram::makeRuleControl()
{
    RuleControl::Actions actions;
    actions.stopAcquisition = [this](const std::string &rule) {
        // Several events may ask within one tick; the first stop is the one.
        if (!window_->timerEnabled())
            return;
        std::printf("adcard-panel: the rule '%s' stopped the acquisition\n", rule.c_str());
        std::fflush(stdout);
        if (history_)
            history_->showMessage(QStringLiteral("规则“%1”停止了采集").arg(QString::fromStdString(rule)), false);
        if (unattended_)
            unattended_->stopByRule(rule);
        else if (auto *stop = qobject_cast<QPushButton *>(window_->control(QStringLiteral("cmdStop"))))
            stop->click();
    };
    actions.stopRecording = [this](const std::string &rule) {
        if (!recording_ || !recording_->active())
            return;
        std::printf("adcard-panel: the rule '%s' closed the recording\n", rule.c_str());
        std::fflush(stdout);
        if (unattended_)
            unattended_->recordingStoppedByRule(rule);
        recording_->stop();
        if (history_)
            history_->showMessage(QStringLiteral("规则“%1”停止了记录").arg(QString::fromStdString(rule)), false);
    };
    rules_ = std::make_unique<RuleControl>(window_->acquisition(), std::move(actions));
}

void PanelProgram::wireRulesTo(HistoryWindow &history)
{
    RuleBanner *banner = history.ruleBanner();
    const auto refresh = [this, banner] {
        QStringList alarms;
        for (const RuleAlarm &a : rules_->alarms())
            alarms << alarmText(a);
        banner->setAlarms(alarms);
        banner->setOutputs(ownedOutputsText(window_->acquisition().rules()));
    };
    QObject::connect(rules_.get(), &RuleControl::alarmsChanged, banner, refresh);
    QObject::connect(rules_.get(), &RuleControl::outputsChanged, banner, refresh);
    QObject::connect(rules_.get(), &RuleControl::armedChanged, banner, refresh);
    QObject::connect(banner, &RuleBanner::acknowledged, rules_.get(), [this] { rules_->acknowledge(); });
    QObject::connect(&history, &HistoryWindow::rulesRequested, &history, [this] { askRules(); });
    refresh();
}

void PanelProgram::askRules()
{
    HistoryWindow &history = openHistory();
    const bool armed = rules_->armed();
    const std::string text = armed ? window_->acquisition().rules().ruleSet()->text : RuleControl::savedRules();
    // Window-modal: the panel's buttons stay usable while it is open.
    auto *dialog = new RulesDialog(text.empty() ? RuleControl::savedRules() : text, armed,
                                   history.channelUnits(), &history);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    QObject::connect(dialog, &RulesDialog::acknowledgeRequested, rules_.get(), [this] { rules_->acknowledge(); });
    QObject::connect(dialog, &QDialog::accepted, rules_.get(), [this, dialog, &history] {
        const std::string chosen = dialog->text();
        if (const std::string why = RuleControl::saveRules(chosen); !why.empty())
            history.showMessage(QStringLiteral("规则未能保存：") + QString::fromStdString(why), true);
        if (!dialog->armRequested()) {
            if (rules_->armed())
                rules_->disarm();
            return;
        }
        if (const auto why = rules_->armText(chosen, "规则"))
            history.showMessage(QString::fromStdString(*why), true);
        else
            history.showMessage(QStringLiteral("规则已启用"), false);
    });
    dialog->open();
}

} // namespace adcard
