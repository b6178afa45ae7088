#pragma once

class QApplication;

namespace tesselby {

// The application record: name, version and icon, shared by the program and its tests.
void configureApplication(QApplication& application);

} // namespace tesselby
