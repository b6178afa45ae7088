#include "Application.h"

#include <QApplication>
#include <QIcon>

#include "ReadableStyle.h"

namespace tesselby {

void configureApplication(QApplication& application)
{
    QApplication::setApplicationName(QStringLiteral("Tesselby"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setOrganizationName(QStringLiteral("Tesselby"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tesselby/tesselby.png")));
    // Whatever style the desktop or -style picked, its scroll bars' thumbs stand out from their grooves.
    if (dynamic_cast<ReadableStyle*>(QApplication::style()) == nullptr)
        QApplication::setStyle(new ReadableStyle(QApplication::style()->name()));
    // Closing the main screen ends the program, also while the browse screen is loaded and hidden.
    application.setQuitOnLastWindowClosed(true);
}

} // namespace tesselby
