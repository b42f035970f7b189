#pragma once
// Where the operator names each channel and gives the line from its volts to
// a unit of their own. Checks every row before it closes: a row it refuses
// is named with the reason, and nothing is lost.
#include "data/channel_units.h"

#include <QDialog>

#include <vector>

class QLabel;
class QLineEdit;

namespace adcard {

class ChannelDialog : public QDialog {
    Q_OBJECT
public:
    // `recording`: a file is being recorded, which keeps the settings it
    // began with; the dialog says so.
    ChannelDialog(const ChannelUnits &units, bool recording, QWidget *parent = nullptr);

    // As entered; valid once accepted.
    ChannelUnits units() const { return units_; }

    void accept() override;

private:
    struct Row {
        QLineEdit *name, *unit, *scale, *offset;
    };
    void fill(const ChannelUnits &units);

    std::vector<Row> rows_;
    QLabel *problem_ = nullptr;
    ChannelUnits units_;
};

} // namespace adcard
