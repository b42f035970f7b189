#pragma once
// Fusion, except that a frame's border runs through the middle of its
// caption instead of below it. The frames' children sit at fixed positions
// that leave room only for the caption's upper half; under Fusion's own
// frame the border would cross the first row of text in Frame1.
#include <QProxyStyle>

namespace adcard {

class PanelStyle final : public QProxyStyle {
    Q_OBJECT

public:
    PanelStyle();

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                         SubControl subControl, const QWidget *widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget) const override;
};

} // namespace adcard
