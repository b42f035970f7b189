#pragma once
// The rules' line at the top of the history window: which output bits the
// armed rules own (so that the operator's 输出 never fights them unseen),
// and the alarms until the operator acknowledges them (确认, K).
#include <QFrame>
#include <QStringList>

class QLabel;
class QPushButton;

namespace adcard {

class RuleBanner : public QFrame {
    Q_OBJECT
public:
    explicit RuleBanner(QWidget *parent = nullptr);

    // "规则占用：组0 位0、2" or empty when no rule owns an output.
    void setOutputs(const QString &text);
    // One line per alarm, newest last; empty hides the alarm part.
    void setAlarms(const QStringList &lines);

    QLabel *outputsLabel() const { return outputs_; }
    QLabel *alarmsLabel() const { return alarms_; }
    QPushButton *acknowledgeButton() const { return acknowledge_; }

signals:
    void acknowledged();

private:
    void updateVisibility();

    QLabel *outputs_ = nullptr;
    QLabel *alarms_ = nullptr;
    QPushButton *acknowledge_ = nullptr;
};

} // namespace adcard
