#include "history/rules_dialog.h"

#include "rules/rules.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include <variant>

namespace adcard {

namespace {

QString q(const std::string &s) { return QString::fromStdString(s); }

QString number(double v) { return QString::number(v, 'g', 10); }

QString levelText(const rules::LevelWhen &w, const ChannelUnits &units)
{
    const ChannelUnit u = channelUnit(units, w.channel - 1);
    const QString unit = QLatin1Char(' ') + q(u.unit);
    const QString name = q(channelName(units, w.channel - 1));
    QString text;
    switch (w.level.kind) {
    case LevelKind::Above: text = name + QStringLiteral(" 高于 ") + number(w.level.level) + unit; break;
    case LevelKind::Below: text = name + QStringLiteral(" 低于 ") + number(w.level.level) + unit; break;
    case LevelKind::Outside:
        text = name + QStringLiteral(" 在 [") + number(w.level.level) + QStringLiteral(", ") +
               number(w.level.level2) + QStringLiteral("]") + unit + QStringLiteral(" 之外");
        break;
    case LevelKind::Inside:
        text = name + QStringLiteral(" 在 [") + number(w.level.level) + QStringLiteral(", ") +
               number(w.level.level2) + QStringLiteral("]") + unit + QStringLiteral(" 之内");
        break;
    }
    if (w.level.hysteresis > 0)
        text += QStringLiteral("，回差 ") + number(w.level.hysteresis) + unit;
    if (w.forMs > 0)
        text += QStringLiteral("，持续 ") + number(w.forMs) + QStringLiteral(" ms");
    return text;
}

QString inputText(const rules::InputWhen &w)
{
    if (w.match)
        return QStringLiteral("输入口%1 & 0x%2 = 0x%3")
            .arg(w.port)
            .arg(w.mask, 0, 16)
            .arg(w.pattern, 0, 16);
    const QString edge = w.edge == rules::InputEdge::Rising    ? QStringLiteral("上升沿")
                         : w.edge == rules::InputEdge::Falling ? QStringLiteral("下降沿")
                                                               : QStringLiteral("跳变");
    return QStringLiteral("输入口%1 位%2 %3").arg(w.port).arg(w.bit).arg(edge);
}

} // namespace

QString ruleConditionText(const rules::Rule &rule, const ChannelUnits &units)
{
    if (const auto *level = std::get_if<rules::LevelWhen>(&rule.when))
        return levelText(*level, units);
    return inputText(std::get<rules::InputWhen>(rule.when));
}

QString ruleActionsText(const rules::Rule &rule)
{
    QStringList parts;
    if (rule.mark)
        parts << QStringLiteral("标记");
    if (rule.output) {
        const auto &o = *rule.output;
        const QString mode = o.mode == rules::OutputMode::Hold    ? QStringLiteral("保持")
                             : o.mode == rules::OutputMode::Pulse ? QStringLiteral("脉冲 %1 ms").arg(o.pulseMs)
                                                                  : QStringLiteral("锁存");
        parts << QStringLiteral("输出组%1 位%2 %3").arg(o.group).arg(o.bit).arg(mode);
    }
    if (rule.capture)
        parts << QStringLiteral("截取 前 %1 s 后 %2 s").arg(number(rule.capture->beforeS), number(rule.capture->afterS));
    if (rule.stop == rules::StopWhat::Recording)
        parts << QStringLiteral("停止记录");
    if (rule.stop == rules::StopWhat::Acquisition)
        parts << QStringLiteral("停止采集");
    if (rule.alarm)
        parts << QStringLiteral("报警");
    return parts.join(QStringLiteral("，"));
}

RulesDialog::RulesDialog(const std::string &text, bool armed, const ChannelUnits &units, QWidget *parent)
    : QDialog(parent), units_(units)
{
    setWindowTitle(QStringLiteral("规则"));
    auto *layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, 3, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("条件"), QStringLiteral("动作")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAccessibleName(QStringLiteral("规则表"));
    layout->addWidget(table_, 1);

    auto *hint = new QLabel(QStringLiteral("规则文件 (JSON)，格式见 docs/rules.md。软件每 100 ms 动作一次，不能用作安全联锁。"),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    editor_ = new QPlainTextEdit(this);
    editor_->setPlainText(q(text));
    editor_->setAccessibleName(QStringLiteral("规则文件"));
    layout->addWidget(editor_, 1);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00000"));
    layout->addWidget(problem_);

    arm_ = new QCheckBox(QStringLiteral("启用规则（本次运行）"), this);
    arm_->setChecked(armed);
    layout->addWidget(arm_);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *import = buttons->addButton(QStringLiteral("导入…"), QDialogButtonBox::ActionRole);
    auto *exportButton = buttons->addButton(QStringLiteral("导出…"), QDialogButtonBox::ActionRole);
    auto *ack = buttons->addButton(QStringLiteral("确认报警 (K)"), QDialogButtonBox::ActionRole);
    ack->setShortcut(QKeySequence(Qt::Key_K));
    connect(import, &QPushButton::clicked, this, &RulesDialog::importFile);
    connect(exportButton, &QPushButton::clicked, this, &RulesDialog::exportFile);
    connect(ack, &QPushButton::clicked, this, &RulesDialog::acknowledgeRequested);
    connect(buttons, &QDialogButtonBox::accepted, this, &RulesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RulesDialog::reject);
    layout->addWidget(buttons);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] { refresh(); });
    refresh();
    resize(720, 520);
}

bool RulesDialog::armRequested() const { return arm_->isChecked(); }

bool RulesDialog::refresh()
{
    const std::string text = editor_->toPlainText().toStdString();
    table_->setRowCount(0);
    if (editor_->toPlainText().trimmed().isEmpty()) {
        problem_->clear();
        return true;
    }
    auto parsed = rules::parseRules(text, units_);
    if (const auto *error = std::get_if<rules::RuleError>(&parsed)) {
        problem_->setText(q(error->message()));
        return false;
    }
    problem_->clear();
    const auto &set = std::get<rules::RuleSet>(parsed);
    table_->setRowCount(static_cast<int>(set.rules.size()));
    for (int r = 0; r < table_->rowCount(); ++r) {
        const rules::Rule &rule = set.rules[std::size_t(r)];
        table_->setItem(r, 0, new QTableWidgetItem(q(rule.name)));
        table_->setItem(r, 1, new QTableWidgetItem(ruleConditionText(rule, units_)));
        table_->setItem(r, 2, new QTableWidgetItem(ruleActionsText(rule)));
    }
    table_->resizeColumnsToContents();
    return true;
}

void RulesDialog::accept()
{
    // Nothing closes over a refused rule: the operator sees which and why.
    if (!refresh()) {
        editor_->setFocus();
        return;
    }
    text_ = editor_->toPlainText().toStdString();
    if (arm_->isChecked() && editor_->toPlainText().trimmed().isEmpty()) {
        problem_->setText(QStringLiteral("没有规则可启用"));
        return;
    }
    QDialog::accept();
}

void RulesDialog::importFile()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入规则"), QString(),
                                                      QStringLiteral("规则文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20)) {
        problem_->setText(QStringLiteral("无法读取 ") + path + QStringLiteral("：") + file.errorString());
        return;
    }
    editor_->setPlainText(QString::fromUtf8(file.readAll()));
}

void RulesDialog::exportFile()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出规则"), QStringLiteral("rules.json"),
                                                      QStringLiteral("规则文件 (*.json)"));
    if (path.isEmpty())
        return;
    // The whole file or none: a file saved over keeps its old text if the
    // write fails.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(editor_->toPlainText().toUtf8()) < 0 || !file.commit())
        problem_->setText(QStringLiteral("无法写入 ") + path + QStringLiteral("：") + file.errorString());
}

} // namespace adcard
