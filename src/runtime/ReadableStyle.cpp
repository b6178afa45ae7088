#include "ReadableStyle.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace tesselby {

ReadableStyle::ReadableStyle(const QString& baseStyleName) : QProxyStyle(baseStyleName) {}

void ReadableStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                       const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || bar == nullptr || !(bar->subControls & SC_ScrollBarGroove)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // The groove and the page areas beside the thumb are painted here; the rest is the style's own.
    const QRect groove = subControlRect(CC_ScrollBar, bar, SC_ScrollBarGroove, widget);
    painter->fillRect(groove, bar->palette.brush(QPalette::Dark));
    QStyleOptionSlider rest = *bar;
    rest.subControls &= ~(SC_ScrollBarGroove | SC_ScrollBarAddPage | SC_ScrollBarSubPage);
    QProxyStyle::drawComplexControl(control, &rest, painter, widget);
}

} // namespace tesselby
