#pragma once
// The 记录… dialog's choice of a series: 分割 (不分割 / 每小时 / 每 N 分钟 /
// 每 N MiB) and 保留 (keep the disk's free space, keep files for N days,
// each optional), what they make of a recording, and the last choice kept in
// the user's settings.
#include "panel/recording_control.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QSpinBox;

namespace adcard {

struct SeriesChoice {
    enum class Split { None, Hourly, Minutes, Mebibytes };
    Split split = Split::None;
    int minutes = 10;
    int mebibytes = 500;
    int keepFreeGiB = 0; // 0: no such limit
    int keepDays = 0;    // 0: no such limit
    bool operator==(const SeriesChoice &) const = default;
};

// The split and retention for the recorder: nothing to delete without a split.
SeriesPlan seriesPlan(const SeriesChoice &choice);

// The last choice, from the user's settings (group `recording`); a value
// out of the dialog's range falls back to the default.
SeriesChoice loadSeriesChoice();
void saveSeriesChoice(const SeriesChoice &choice);

// The rows themselves, for a save dialog (Qt's own, whose grid takes rows).
class SeriesChoiceRows final : public QObject {
public:
    // Adds the two rows below `dialog`'s own, showing `initial`.
    SeriesChoiceRows(QFileDialog &dialog, const SeriesChoice &initial);
    SeriesChoice choice() const;

private:
    void sync();

    QFileDialog &dialog_;
    QComboBox *split_ = nullptr;
    QSpinBox *minutes_ = nullptr;
    QSpinBox *mebibytes_ = nullptr;
    QCheckBox *keepFree_ = nullptr;
    QSpinBox *keepFreeGiB_ = nullptr;
    QCheckBox *keepDays_ = nullptr;
    QSpinBox *days_ = nullptr;
    QWidget *retention_ = nullptr;
};

} // namespace adcard
