#pragma once

class QAbstractButton;

namespace tesselby {

// Makes Enter and the keypad's Enter press the button while it has the focus, as Space does and as the
// desktop's own command buttons do. Qt presses a button on Enter only in dialogs, and only when it is
// a default button, which some styles draw with a wider frame.
void pressOnEnter(QAbstractButton* button);

} // namespace tesselby
