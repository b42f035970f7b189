#pragma once
// 规则…: the rules as a table, read from their file's text, which the
// operator edits, imports or exports. Every rule is checked before the
// dialog closes: a refused rule is named, with its key and the reason, and
// nothing typed is lost. Arming is a choice of this session only.
#include "data/channel_units.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace adcard {

namespace rules {
struct Rule;
}

// One line each for a rule's condition and its actions, as the table and
// the banner write them.
QString ruleConditionText(const rules::Rule &rule, const ChannelUnits &units);
QString ruleActionsText(const rules::Rule &rule);

class RulesDialog : public QDialog {
    Q_OBJECT
public:
    RulesDialog(const std::string &text, bool armed, const ChannelUnits &units, QWidget *parent = nullptr);

    // Valid once accepted.
    std::string text() const { return text_; }
    bool armRequested() const;

    void accept() override;

signals:
    // 确认 (K): the operator acknowledges alarms and latched outputs now.
    void acknowledgeRequested();

private:
    // Parses the editor's text and fills the table; the refusal's message
    // otherwise, with the refused rule's row marked.
    bool refresh();
    void importFile();
    void exportFile();

    ChannelUnits units_;
    QPlainTextEdit *editor_ = nullptr;
    QTableWidget *table_ = nullptr;
    QCheckBox *arm_ = nullptr;
    QLabel *problem_ = nullptr;
    std::string text_;
};

} // namespace adcard
