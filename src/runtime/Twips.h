#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace tesselby {

// Window layouts are designed in twips: 1440 to the inch, so 15 to a pixel at 96 dpi.
inline constexpr int kTwipsPerInch = 1440;

int twipsToPixels(int twips, qreal dotsPerInch);

// Converts with the logical resolution of the screen the widget is on.
QSize twipsToSize(const QWidget* widget, int width, int height);
QRect twipsToRect(const QWidget* widget, int left, int top, int width, int height);

// Places a control by its twips geometry within its parent's client area.
void placeInTwips(QWidget* control, int left, int top, int width, int height);

} // namespace tesselby
