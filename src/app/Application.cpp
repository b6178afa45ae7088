#include "Application.h"

#include <QApplication>
#include <QIcon>

namespace tesselby {

void configureApplication(QApplication& application)
{
    QApplication::setApplicationName(QStringLiteral("Tesselby"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setOrganizationName(QStringLiteral("Tesselby"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tesselby/tesselby.png")));
    // Closing the main screen ends the program, also while the browse screen is loaded and hidden.
    application.setQuitOnLastWindowClosed(true);
}

} // namespace tesselby
