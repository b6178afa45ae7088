#include "Program.h"

#include "DataFile.h"
#include "disk/DataFilePath.h"

namespace tesselby {

Program::Program()
    : m_form1(
          [this](Form1* form) { connect(form, &Form1::openDataBrowserRequested, this, &Program::openDataBrowser); }),
      m_form2([this](Form2* form) {
          connect(form, &Form2::returnToMainScreenRequested, this, &Program::returnToMainScreen);
          // Queued: the browse screen is still inside its own handler when it says so.
          connect(form, &Form2::listEmptied, this, &Program::closeEmptiedBrowser, Qt::QueuedConnection);
      })
{
}

void Program::start()
{
    // A save cut off by a crash is put right before anything is shown; should that fail, the first
    // read of the list says why.
    (void)repairListAtStartUp(dataFilePath(kDataFileWritePath));
    m_form1.get()->show();
}

void Program::openDataBrowser()
{
    const bool firstTime = !m_form2.isLoaded();
    Form2* browse = m_form2.get();
    // Loaded before the main screen is hidden, so a list that cannot be shown leaves the person where
    // they were, and a later attempt loads afresh.
    if (firstTime && !browse->Form_Load()) {
        m_form2.unload();
        return;
    }
    // Shown again: the list is read again if the file changed meanwhile. Should it have nobody left,
    // the screen goes, so the next attempt loads afresh; should it not be readable, the screen stays
    // loaded with what was typed in it, for a later attempt.
    if (!firstTime) {
        const Form2::ListLoad again = browse->readAgainIfChanged();
        if (again == Form2::ListLoad::Empty)
            m_form2.unload();
        if (again != Form2::ListLoad::Loaded)
            return;
    }
    if (Form1* main = m_form1.ifLoaded())
        main->hide();
    browse->show();
    browse->activateWindow();
}

void Program::returnToMainScreen()
{
    if (Form2* browse = m_form2.ifLoaded())
        browse->hide();
    // The main screen comes back as at start-up, whatever a search had shown on it.
    m_form1.unload();
    Form1* main = m_form1.get();
    main->show();
    main->activateWindow();
}

void Program::closeEmptiedBrowser()
{
    // Unloaded, so that the next "Open Data Browser" reads the list afresh.
    returnToMainScreen();
    m_form2.unload();
}

} // namespace tesselby
