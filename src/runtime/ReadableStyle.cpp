#include "ReadableStyle.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>

namespace tesselby {

ReadableStyle::ReadableStyle(const QString& baseStyleName) : QProxyStyle(baseStyleName) {}

void ReadableStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                       const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || bar == nullptr) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    if (bar->subControls & SC_ScrollBarGroove) {
        // The groove and the page areas beside the thumb are painted here; the rest is the style's own.
        const QRect groove = subControlRect(CC_ScrollBar, bar, SC_ScrollBarGroove, widget);
        painter->fillRect(groove, bar->palette.brush(QPalette::Dark));
        QStyleOptionSlider rest = *bar;
        rest.subControls &= ~(SC_ScrollBarGroove | SC_ScrollBarAddPage | SC_ScrollBarSubPage);
        QProxyStyle::drawComplexControl(control, &rest, painter, widget);
    } else {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }
    // No style of Qt's marks a scroll bar that has the keyboard, so someone paging by keys loses their
    // place: the style's own focus frame goes round the thumb, the part the arrow keys move.
    if (bar->state & State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(*bar);
        // Some styles (Fusion) draw the frame only when the focus came by the keyboard; shown always,
        // it also tells where the keys act after a click.
        focus.state |= State_KeyboardFocusChange;
        focus.rect = subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget).adjusted(1, 1, -1, -1);
        focus.backgroundColor = bar->palette.color(QPalette::Button);
        proxy()->drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
    }
}

} // namespace tesselby
