#pragma once

#include <QFont>
#include <QStringList>

namespace tesselby {

// A font as a window definition names it, falling back through the given families and then to any
// face of the same kind when the named one is not installed.
QFont designFont(const QStringList& families, qreal points, bool bold, QFont::StyleHint kind);

// The windows' default face: an 8-point sans serif, the size their layouts were designed around, so
// captions fit their controls.
QFont designDefaultFont();

} // namespace tesselby
