#include "history/rule_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace adcard {

RuleBanner::RuleBanner(QWidget *parent) : QFrame(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    auto *texts = new QVBoxLayout;
    outputs_ = new QLabel(this);
    outputs_->setAccessibleName(QStringLiteral("规则占用的输出位"));
    alarms_ = new QLabel(this);
    alarms_->setAccessibleName(QStringLiteral("报警"));
    alarms_->setTextFormat(Qt::PlainText);
    alarms_->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 2px; }"));
    texts->addWidget(alarms_);
    texts->addWidget(outputs_);
    layout->addLayout(texts, 1);
    acknowledge_ = new QPushButton(QStringLiteral("确认 (K)"), this);
    acknowledge_->setToolTip(QStringLiteral("确认报警，并释放锁存的输出位"));
    connect(acknowledge_, &QPushButton::clicked, this, &RuleBanner::acknowledged);
    layout->addWidget(acknowledge_, 0, Qt::AlignTop);
    updateVisibility();
}

void RuleBanner::setOutputs(const QString &text)
{
    outputs_->setText(text);
    updateVisibility();
}

void RuleBanner::setAlarms(const QStringList &lines)
{
    // The newest few: the banner must not push the plot off a laptop's screen.
    constexpr int kShown = 3;
    QStringList shown = lines.mid(std::max<qsizetype>(0, lines.size() - kShown));
    if (lines.size() > kShown)
        shown.prepend(QStringLiteral("（另有 %1 条更早的报警）").arg(lines.size() - kShown));
    alarms_->setText(shown.join(QLatin1Char('\n')));
    updateVisibility();
}

void RuleBanner::updateVisibility()
{
    alarms_->setVisible(!alarms_->text().isEmpty());
    outputs_->setVisible(!outputs_->text().isEmpty());
    acknowledge_->setVisible(!alarms_->text().isEmpty() || !outputs_->text().isEmpty());
    setVisible(!alarms_->text().isEmpty() || !outputs_->text().isEmpty());
}

} // namespace adcard
