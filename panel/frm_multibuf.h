#pragma once
// The operator window. Its widgets come from controlTable(); everything it
// does on a click or a timer tick is left to Acquisition.
#include "acquisition.h"
#include "controls.h"
#include "dlldef.h"
#include "panel_view.h"

#include <QHash>
#include <QString>
#include <QWidget>

#include <string>

class QCloseEvent;
class QLabel;
class QLineEdit;
class QTimer;

namespace adcard {

class FrmMultiBuf final : public QWidget, public PanelView {
    Q_OBJECT

public:
    FrmMultiBuf(DllDef &dll, std::string decimalSeparator, QWidget *parent = nullptr);
    ~FrmMultiBuf() override;

    // Runs the load step once; call after construction, before show().
    void load();

    // Appends a driver failure text to the tooltip of lblBlock.
    void addDriverProblem(const QString &text);

    Acquisition &acquisition() { return acquisition_; }

    // The widget created for a table row, by its object name; null if none.
    QWidget *control(const QString &objectName) const { return widgets_.value(objectName); }
    QTimer *timer() const { return timer_; }

    // PanelView
    void setCaption(std::string_view control, int index, std::string_view utf8) override;
    std::string text(std::string_view control) const override;
    void setTimerEnabled(bool enabled) override;
    bool timerEnabled() const override;
    void unload() override;
    void setInputProblem(std::string_view control, std::string_view utf8Message) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct LabelEntry {
        QLabel *label = nullptr;
        bool autoSize = false;
    };

    void createControls();
    void setUpTabOrder();
    QRect pixelRect(const ControlDef &def) const;
    QLineEdit *textBox(std::string_view control) const;

    Acquisition acquisition_;
    double dpiX_;
    double dpiY_;
    QHash<QString, QWidget *> widgets_;
    QHash<QString, LabelEntry> labels_;
    QTimer *timer_ = nullptr;
    bool unloaded_ = false;
};

} // namespace adcard
