#pragma once
// Small pieces of text the plot's windows share: a label that never widens
// its window, and the page of keys and mouse actions that F1 opens.
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

// One row of the help page: what to press, what it does.
using KeyHelpRow = QPair<QString, QString>;

// The plot's own keys and mouse actions, the same in every window.
QList<KeyHelpRow> plotKeyHelp();

// Opens (or raises) a page listing `rows`, titled after `window`, over it.
void showKeyHelp(QWidget *window, const QList<KeyHelpRow> &rows);

} // namespace adcard
