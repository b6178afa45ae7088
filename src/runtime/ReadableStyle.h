#pragma once

#include <QProxyStyle>

namespace tesselby {

// The style the program starts with, or the one asked for, with each scroll bar's groove drawn in a
// darker shade than its thumb. Some styles (Fusion among them) draw both from nearly the same colour, so
// the thumb of a short list all but disappears. A scroll bar that has the keyboard shows the style's
// focus frame round its thumb, which none of Qt's styles draws.
class ReadableStyle : public QProxyStyle {
public:
    explicit ReadableStyle(const QString& baseStyleName);

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};

} // namespace tesselby
