#pragma once
// Small pieces of text the plot's windows share: a label that never widens
// its window, and the page of keys and mouse actions that F1 opens.
#include <QCheckBox>
#include <QLabel>
#include <QList>
#include <QPair>
#include <QString>

namespace adcard {

// A label whose text is cut with "…" to the room it gets, line by line,
// rather than raising the window's minimum width: readouts that change with
// the pointer must not make the window grow past the screen. The whole text
// is its tooltip.
class ElidingLabel final : public QLabel {
public:
    explicit ElidingLabel(QWidget *parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);
    // The text, with its tooltip.
    void setFullText(const QString &text);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::TextElideMode mode_;
};

// A channel's checkbox in a legend: its whole name where the window has the
// room, cut with "…" only where it has not, so that long names never widen
// the window. The whole name is for its tooltip.
class LegendBox final : public QCheckBox {
public:
    explicit LegendBox(const QString &text, QWidget *parent = nullptr);
    void setFullText(const QString &text);
    const QString &fullText() const { return full_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // The box, icon and spacing around the text.
    int chrome() const;
    void elide();
    QString full_;
};

// One row of the help page: what to press, what it does.
using KeyHelpRow = QPair<QString, QString>;

// The plot's own keys and mouse actions, the same in every window.
QList<KeyHelpRow> plotKeyHelp();

// Opens (or raises) a page listing `rows`, titled after `window`, over it.
void showKeyHelp(QWidget *window, const QList<KeyHelpRow> &rows);

} // namespace adcard
