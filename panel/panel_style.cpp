#include "panel/panel_style.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace adcard {

namespace {
const QStyleOptionGroupBox *captionedFrame(QStyle::ComplexControl control, const QStyleOptionComplex *option)
{
    if (control != QStyle::CC_GroupBox)
        return nullptr;
    const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
    // Checkable frames keep Fusion's layout: the panel has none.
    if (!box || box->text.isEmpty() || (box->subControls & QStyle::SC_GroupBoxCheckBox))
        return nullptr;
    return box;
}
} // namespace

PanelStyle::PanelStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QRect PanelStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                                 SubControl subControl, const QWidget *widget) const
{
    const QStyleOptionGroupBox *box = captionedFrame(control, option);
    if (!box)
        return QProxyStyle::subControlRect(control, option, subControl, widget);

    const QFontMetrics &fm = box->fontMetrics;
    const int captionHeight = fm.height();
    const int indent = captionHeight / 2;
    const QRect frame = box->rect.adjusted(0, captionHeight / 2, 0, 0);
    switch (subControl) {
    case SC_GroupBoxFrame:
        return frame;
    case SC_GroupBoxLabel:
        return {box->rect.left() + indent, box->rect.top(), fm.horizontalAdvance(box->text) + 2,
                captionHeight};
    case SC_GroupBoxContents:
        return box->rect.adjusted(1, captionHeight, -1, -1);
    default:
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
}

void PanelStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                    QPainter *painter, const QWidget *widget) const
{
    const QStyleOptionGroupBox *box = captionedFrame(control, option);
    if (!box) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
    if (box->subControls & SC_GroupBoxFrame) {
        // Drawn here: Fusion's own frame moves its border below the caption.
        const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
        painter->save();
        painter->setClipRegion(QRegion(box->rect).subtracted(QRegion(caption.adjusted(-2, 0, 2, 0))));
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(box->palette.window().color().darker(140));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(frame.adjusted(0, 0, -1, -1));
        painter->restore();
    }
    if (box->subControls & SC_GroupBoxLabel) {
        proxy()->drawItemText(painter, caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                              box->palette, box->state & State_Enabled, box->text, QPalette::WindowText);
    }
}

} // namespace adcard

// Its meta-object code, compiled with the file rather than on its own.
#include "moc_panel_style.cpp"
