#pragma once

class QLineEdit;

namespace tesselby {

// Creates element index of a text-box control array from its element 0: same parent, size, font,
// text and length limit, named "<name>(<index>)", and hidden until shown.
QLineEdit* loadTextBoxElement(QLineEdit* element0, int index);

} // namespace tesselby
