#pragma once

class QScrollBar;

namespace tesselby {

// Makes Left and Right step a horizontal scroll bar backwards and forwards in reading order. Qt's own
// handling steps it the other way, because a horizontal bar inverts its controls for the wheel's sake.
void useReadingOrderArrowKeys(QScrollBar* bar);

} // namespace tesselby
