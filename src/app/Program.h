#pragma once

#include <QObject>

#include "Form1.h"
#include "Form2.h"
#include "WindowInstance.h"

namespace tesselby {

// Owns the two screens and moves the person between them. Each screen exists at most once.
class Program : public QObject {
    Q_OBJECT

public:
    Program();

    // Shows the main screen, as at start-up. Nothing is read from the data file.
    void start();

    Form1* mainScreen() const { return m_form1.ifLoaded(); }
    Form2* browseScreen() const { return m_form2.ifLoaded(); }

private:
    void openDataBrowser();
    void returnToMainScreen();
    void closeEmptiedBrowser();

    WindowInstance<Form1> m_form1;
    WindowInstance<Form2> m_form2;
};

} // namespace tesselby
