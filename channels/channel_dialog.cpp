#include "channels/channel_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace adcard {

namespace {

// "0.5" always, and "0,5" where the system writes decimals so; an exponent
// too ("2.5e-3").
std::optional<double> number(const QString &text)
{
    bool ok = false;
    double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok)
        v = QLocale::system().toDouble(text.trimmed(), &ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

QString numberText(double v) { return QString::number(v, 'g', 12); }

} // namespace

ChannelDialog::ChannelDialog(const ChannelUnits &units, bool recording, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("通道名称与单位"));
    auto *grid = new QGridLayout;
    const QStringList heads = {QString(), QStringLiteral("名称"), QStringLiteral("单位"), QStringLiteral("比例（单位/V）"),
                               QStringLiteral("偏移（0 V 时的值）")};
    for (int col = 0; col < heads.size(); ++col)
        grid->addWidget(new QLabel(heads[col], this), 0, col);
    for (std::size_t c = 0; c < units.size(); ++c) {
        const int r = static_cast<int>(c) + 1;
        Row row{new QLineEdit(this), new QLineEdit(this), new QLineEdit(this), new QLineEdit(this)};
        row.name->setPlaceholderText(QStringLiteral("通道%1").arg(r));
        row.name->setAccessibleName(QStringLiteral("通道%1名称").arg(r));
        row.unit->setAccessibleName(QStringLiteral("通道%1单位").arg(r));
        row.scale->setAccessibleName(QStringLiteral("通道%1比例").arg(r));
        row.offset->setAccessibleName(QStringLiteral("通道%1偏移").arg(r));
        grid->addWidget(new QLabel(QStringLiteral("通道%1").arg(r), this), r, 0);
        grid->addWidget(row.name, r, 1);
        grid->addWidget(row.unit, r, 2);
        grid->addWidget(row.scale, r, 3);
        grid->addWidget(row.offset, r, 4);
        rows_.push_back(row);
    }
    fill(units);

    auto *hint = new QLabel(QStringLiteral("值 = 电压 × 比例 + 偏移（反相放大的传感器：比例为负）。面板的四个读数仍以伏特显示；"
                                           "历史窗口、记录文件、回放与导出使用这里的单位。"),
                            this);
    hint->setWordWrap(true);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00000"));
    if (recording)
        problem_->setText(QStringLiteral("正在记录：当前文件保留开始记录时的设置，新设置从下一次记录起写入文件。"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QPushButton *volts = buttons->addButton(QStringLiteral("全部恢复为伏特"), QDialogButtonBox::ResetRole);
    connect(volts, &QPushButton::clicked, this, [this] { fill(ChannelUnits(rows_.size())); });
    connect(buttons, &QDialogButtonBox::accepted, this, &ChannelDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ChannelDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(hint);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

void ChannelDialog::fill(const ChannelUnits &units)
{
    for (std::size_t c = 0; c < rows_.size(); ++c) {
        const ChannelUnit u = channelUnit(units, static_cast<int>(c));
        rows_[c].name->setText(QString::fromStdString(u.name));
        rows_[c].unit->setText(QString::fromStdString(u.unit));
        rows_[c].scale->setText(numberText(u.scale));
        rows_[c].offset->setText(numberText(u.offset));
    }
}

void ChannelDialog::accept()
{
    ChannelUnits units;
    for (std::size_t c = 0; c < rows_.size(); ++c) {
        const Row &row = rows_[c];
        const QString channel = QStringLiteral("通道%1：").arg(c + 1);
        const auto scale = number(row.scale->text());
        const auto offset = number(row.offset->text());
        QLineEdit *wrong = !scale ? row.scale : !offset ? row.offset : nullptr;
        if (wrong) {
            problem_->setText(channel + QStringLiteral("“%1”不是数").arg(wrong->text()));
            wrong->setFocus();
            return;
        }
        ChannelUnit u{row.name->text().trimmed().toStdString(), row.unit->text().trimmed().toStdString(), *scale,
                      *offset};
        if (const auto why = unitProblem(u)) {
            problem_->setText(channel + QString::fromStdString(*why));
            row.name->setFocus();
            return;
        }
        units.push_back(std::move(u));
    }
    units_ = std::move(units);
    QDialog::accept();
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_channel_dialog.cpp"
