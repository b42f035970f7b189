#include "panel/series_choice.h"

#include "channels/user_settings.h"
#include "quantities/quantity_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace adcard {

namespace {

// The dialog's ranges, which the settings are held to as well: a split of
// at least 10 MiB (a minute is above 10 s), at most a week or a TiB.
struct Range {
    int low, high;
    bool holds(int v) const { return v >= low && v <= high; }
};
constexpr Range kMinutes{1, 7 * 24 * 60};
constexpr Range kMebibytes{10, 1024 * 1024};
constexpr Range kGiB{1, 1024 * 1024};
constexpr Range kDays{1, 3650};

constexpr int64_t kSecondNs = quantities::kNsPerSecond;

const char *const kSplitNames[] = {"none", "hourly", "minutes", "mebibytes"};

QSpinBox *spin(QWidget *parent, const char *name, Range range, const QString &suffix, int value)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(range.low, range.high);
    box->setSuffix(suffix);
    box->setValue(value);
    return box;
}

} // namespace

SeriesPlan seriesPlan(const SeriesChoice &c)
{
    SeriesPlan plan;
    switch (c.split) {
    case SeriesChoice::Split::None:
        return plan;
    case SeriesChoice::Split::Hourly:
        plan.split.everyNs = 3600 * kSecondNs;
        break;
    case SeriesChoice::Split::Minutes:
        plan.split.everyNs = int64_t{c.minutes} * 60 * kSecondNs;
        break;
    case SeriesChoice::Split::Mebibytes:
        plan.split.everyBytes = int64_t{c.mebibytes} * quantities::kMiB;
        break;
    }
    plan.split.text = plan.split.everyNs > 0 ? quantities::durationText(plan.split.everyNs)
                                             : quantities::sizeText(plan.split.everyBytes);
    plan.retention.keepFreeBytes = int64_t{c.keepFreeGiB} << 30;
    plan.retention.keepNs = int64_t{c.keepDays} * 86400 * kSecondNs;
    return plan;
}

SeriesChoice loadSeriesChoice()
{
    const QSettings s = userSettings();
    SeriesChoice c;
    const QString split = s.value(QStringLiteral("recording/split")).toString();
    for (int i = 0; i < 4; ++i)
        if (split == QLatin1String(kSplitNames[i]))
            c.split = static_cast<SeriesChoice::Split>(i);
    const auto number = [&s](const char *key, Range range, int fallback) {
        bool ok = false;
        const int v = s.value(QStringLiteral("recording/") + QLatin1String(key)).toInt(&ok);
        return ok && range.holds(v) ? v : fallback;
    };
    c.minutes = number("splitMinutes", kMinutes, c.minutes);
    c.mebibytes = number("splitMiB", kMebibytes, c.mebibytes);
    c.keepFreeGiB = number("keepFreeGiB", kGiB, 0);
    c.keepDays = number("keepDays", kDays, 0);
    return c;
}

void saveSeriesChoice(const SeriesChoice &c)
{
    QSettings s = userSettings();
    s.setValue(QStringLiteral("recording/split"), QLatin1String(kSplitNames[static_cast<int>(c.split)]));
    s.setValue(QStringLiteral("recording/splitMinutes"), c.minutes);
    s.setValue(QStringLiteral("recording/splitMiB"), c.mebibytes);
    s.setValue(QStringLiteral("recording/keepFreeGiB"), c.keepFreeGiB);
    s.setValue(QStringLiteral("recording/keepDays"), c.keepDays);
}

SeriesChoiceRows::SeriesChoiceRows(QFileDialog &dialog, const SeriesChoice &initial) : QObject(&dialog), dialog_(dialog)
{
    auto *splitRow = new QWidget(&dialog);
    auto *splitLayout = new QHBoxLayout(splitRow);
    splitLayout->setContentsMargins(0, 0, 0, 0);
    split_ = new QComboBox(splitRow);
    split_->setObjectName(QStringLiteral("splitMode"));
    split_->addItems({QStringLiteral("不分割"), QStringLiteral("每小时"), QStringLiteral("每 N 分钟"),
                      QStringLiteral("每 N MiB")});
    split_->setToolTip(QStringLiteral("分割：每段写入新文件 NAME_YYYYMMDD-HHMMSS.h5（按采集卡时间或文件大小）"));
    split_->setCurrentIndex(static_cast<int>(initial.split));
    minutes_ = spin(splitRow, "splitMinutes", kMinutes, QStringLiteral(" 分钟"), initial.minutes);
    mebibytes_ = spin(splitRow, "splitMiB", kMebibytes, QStringLiteral(" MiB"), initial.mebibytes);
    for (QWidget *w : {static_cast<QWidget *>(split_), static_cast<QWidget *>(minutes_),
                       static_cast<QWidget *>(mebibytes_)})
        splitLayout->addWidget(w);
    splitLayout->addStretch();

    retention_ = new QWidget(&dialog);
    auto *keepLayout = new QHBoxLayout(retention_);
    keepLayout->setContentsMargins(0, 0, 0, 0);
    keepFree_ = new QCheckBox(QStringLiteral("磁盘至少留空"), retention_);
    keepFree_->setObjectName(QStringLiteral("keepFree"));
    keepFreeGiB_ = spin(retention_, "keepFreeGiB", kGiB, QStringLiteral(" GiB"), initial.keepFreeGiB > 0 ? initial.keepFreeGiB : 20);
    keepDays_ = new QCheckBox(QStringLiteral("只保留最近"), retention_);
    keepDays_->setObjectName(QStringLiteral("keepDays"));
    days_ = spin(retention_, "keepDaysCount", kDays, QStringLiteral(" 天"), initial.keepDays > 0 ? initial.keepDays : 7);
    keepFree_->setChecked(initial.keepFreeGiB > 0);
    keepDays_->setChecked(initial.keepDays > 0);
    retention_->setToolTip(QStringLiteral("只删除同名系列的旧文件，从最旧的开始；正在写入的文件和其他文件从不删除"));
    for (QWidget *w : {static_cast<QWidget *>(keepFree_), static_cast<QWidget *>(keepFreeGiB_),
                       static_cast<QWidget *>(keepDays_), static_cast<QWidget *>(days_)})
        keepLayout->addWidget(w);
    keepLayout->addStretch();

    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(new QLabel(QStringLiteral("分割："), &dialog), row, 0);
        grid->addWidget(splitRow, row, 1);
        grid->addWidget(new QLabel(QStringLiteral("保留："), &dialog), row + 1, 0);
        grid->addWidget(retention_, row + 1, 1);
    }
    connect(split_, &QComboBox::currentIndexChanged, this, &SeriesChoiceRows::sync);
    connect(keepFree_, &QCheckBox::toggled, this, &SeriesChoiceRows::sync);
    connect(keepDays_, &QCheckBox::toggled, this, &SeriesChoiceRows::sync);
    sync();
}

void SeriesChoiceRows::sync()
{
    const auto split = static_cast<SeriesChoice::Split>(split_->currentIndex());
    minutes_->setVisible(split == SeriesChoice::Split::Minutes);
    mebibytes_->setVisible(split == SeriesChoice::Split::Mebibytes);
    // A series never replaces a file: an existing NAME.h5 stays as it is.
    dialog_.setOption(QFileDialog::DontConfirmOverwrite, split != SeriesChoice::Split::None);
    retention_->setEnabled(split != SeriesChoice::Split::None);
    keepFreeGiB_->setEnabled(keepFree_->isChecked());
    days_->setEnabled(keepDays_->isChecked());
}

SeriesChoice SeriesChoiceRows::choice() const
{
    SeriesChoice c;
    c.split = static_cast<SeriesChoice::Split>(split_->currentIndex());
    c.minutes = minutes_->value();
    c.mebibytes = mebibytes_->value();
    c.keepFreeGiB = keepFree_->isChecked() ? keepFreeGiB_->value() : 0;
    c.keepDays = keepDays_->isChecked() ? days_->value() : 0;
    return c;
}

} // namespace adcard
