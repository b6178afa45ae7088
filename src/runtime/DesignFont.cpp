#include "DesignFont.h"

namespace tesselby {

QFont designFont(const QStringList& families, qreal points, bool bold, QFont::StyleHint kind)
{
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(kind);
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QFont designDefaultFont()
{
    return designFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")},
                      8, false, QFont::SansSerif);
}

} // namespace tesselby
