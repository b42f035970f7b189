#pragma once
// The operator window. Its widgets come from controlTable(); everything it
// does on a click or a timer tick is left to Acquisition.
#include "acquisition/acquisition.h"
#include "panel/controls.h"
#include "acquisition/dlldef.h"
#include "acquisition/panel_view.h"

#include <QHash>
#include <QString>
#include <QWidget>

#include <array>
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

    // Appends a driver failure text to the tooltip of lblBlock, broken into
    // lines that fit the window's width.
    void addDriverProblem(const QString &text);

    Acquisition &acquisition() { return acquisition_; }

    // The widget created for a table row, by its object name; null if none.
    QWidget *control(const QString &objectName) const { return widgets_.value(objectName); }
    QTimer *timer() const { return timer_; }

    // PanelView
    void setCaption(Caption caption, std::string_view utf8) override;
    std::string text(TextBox box) const override;
    void setTimerEnabled(bool enabled) override;
    bool timerEnabled() const override;
    void unload() override;
    void setInputProblem(TextBox box, std::string_view utf8Message) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void setUpTabOrder();
    QRect pixelRect(const ControlDef &def) const;
    int textWidth(const QString &text, const QLabel *label) const;

    Acquisition acquisition_;
    double dpiX_;
    double dpiY_;
    QHash<QString, QWidget *> widgets_;
    std::array<QLabel *, kCaptionCount> captionLabels_{};
    std::array<bool, kCaptionCount> captionAutoSize_{};
    // Each caption's text as UTF-8, so that the same text again, the common
    // case on a tick, costs one comparison.
    std::array<std::string, kCaptionCount> captionWritten_{};
    // Label width beyond its text: margins and indent, measured once.
    std::array<int, kCaptionCount> captionExtraWidth_{};
    // Advances of the printable ASCII characters in the labels' font, in
    // 1/64 px, each measured when first needed; -1 until then.
    mutable std::array<int, 0x7F - 0x20> asciiAdvance64_{};
    std::array<QLineEdit *, kTextBoxCount> textBoxes_{};
    QTimer *timer_ = nullptr;
    bool unloaded_ = false;
};

} // namespace adcard
