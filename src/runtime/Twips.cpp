#include "Twips.h"

#include <QWidget>
#include <cmath>

namespace tesselby {

int twipsToPixels(int twips, qreal dotsPerInch)
{
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

QSize twipsToSize(const QWidget* widget, int width, int height)
{
    return QSize(twipsToPixels(width, widget->logicalDpiX()), twipsToPixels(height, widget->logicalDpiY()));
}

QRect twipsToRect(const QWidget* widget, int left, int top, int width, int height)
{
    const qreal dpiX = widget->logicalDpiX();
    const qreal dpiY = widget->logicalDpiY();
    return QRect(twipsToPixels(left, dpiX), twipsToPixels(top, dpiY), twipsToPixels(width, dpiX),
                 twipsToPixels(height, dpiY));
}

void placeInTwips(QWidget* control, int left, int top, int width, int height)
{
    control->setGeometry(twipsToRect(control, left, top, width, height));
}

} // namespace tesselby
