// A person who uses no mouse adds people, searches, pages, opens the browse screen, edits, saves and
// returns, with the keys a keyboard user reaches for: Tab, arrows, Space, Enter, shortcuts and Alt.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>
#include <optional>

#include "Application.h"
#include "DataFolder.h"
#include "ModalAnswers.h"
#include "Program.h"
#include "Screens.h"

using namespace tesselby;

class KeyboardTest : public QObject {
    Q_OBJECT

private:
    std::optional<DataFolder> m_folder;
    std::optional<Program> m_program;

    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
        QVERIFY(target != nullptr);
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }

    // Tabs forward until the named control has the focus, as a person would, within one round.
    static void tabTo(QWidget* window, const char* name)
    {
        QWidget* wanted = window->findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(wanted != nullptr, name);
        for (int step = 0; step < 20 && QApplication::focusWidget() != wanted; ++step)
            press(Qt::Key_Tab);
        QVERIFY2(QApplication::focusWidget() == wanted, name);
    }

    // The key that presses the focused button, as the row gives it.
    static void pressButton()
    {
        QFETCH(int, buttonKey);
        QFETCH(int, buttonModifiers);
        press(buttonKey, Qt::KeyboardModifiers(buttonModifiers));
    }

    void addByKeyboard(Form1* form, const QStringList& answers)
    {
        tabTo(form, "Command2");
        ModalAnswers prompts;
        for (const QString& answer : answers)
            prompts.then(ModalAnswers::typeAndAccept(answer));
        pressButton();
        QVERIFY(prompts.allAnswered());
        QVERIFY(QTest::qWaitForWindowActive(form)); // the main screen has the keyboard again
    }

private slots:
    void init()
    {
        m_folder.emplace();
        m_program.emplace();
        m_program->start();
        QVERIFY(QTest::qWaitForWindowActive(m_program->mainScreen()));
    }
    void cleanup()
    {
        m_program.reset();
        m_folder.reset();
    }

    void everythingCanBeDoneWithoutAMouse_data()
    {
        QTest::addColumn<int>("buttonKey");
        QTest::addColumn<int>("buttonModifiers");
        QTest::newRow("Space presses a button") << int(Qt::Key_Space) << int(Qt::NoModifier);
        QTest::newRow("Enter presses a button") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter presses a button") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    }
    void everythingCanBeDoneWithoutAMouse()
    {
        Form1* main = m_program->mainScreen();
        addByKeyboard(main, {"Ann", "Lee", "555-0100", "ann@example.org"});
        if (QTest::currentTestFailed())
            return;
        addByKeyboard(main, {"Bob", "Lee", "555-0101", "bob@example.org"});
        if (QTest::currentTestFailed())
            return;

        // Search the last names: type, move to the options, pick "Last Name" with an arrow key, search.
        tabTo(main, "Text1");
        typeText(QApplication::focusWidget(), QStringLiteral("Lee"));
        tabTo(main, "Option1");
        press(Qt::Key_Down);
        QVERIFY(control<QRadioButton>(main, "Option2")->isChecked());
        tabTo(main, "Command1");
        pressButton();
        QCOMPARE(main->windowTitle(), QStringLiteral("FOUND!"));
        tabTo(main, "VScroll1");
        press(Qt::Key_Down);
        QCOMPARE(control<QLabel>(main, "Label1")->text(), QStringLiteral("First Name: Bob"));

        // The browse screen: page with the arrow keys, change a field, save with "EDIT".
        press(Qt::Key_B, Qt::ControlModifier);
        Form2* browse = m_program->browseScreen();
        QVERIFY(browse != nullptr);
        QVERIFY(QTest::qWaitForWindowActive(browse));
        tabTo(browse, "HScroll1");
        press(Qt::Key_Right);
        QCOMPARE(control<QLineEdit>(browse, "DataValue(1)")->text(), QStringLiteral("Bob"));
        tabTo(browse, "DataValue(3)");
        press(Qt::Key_A, Qt::ControlModifier);
        typeText(QApplication::focusWidget(), QStringLiteral("555-0199"));
        tabTo(browse, "Command1");
        pressButton();
        QCOMPARE(m_folder->read(),
                 itemLines({"Ann", "Lee", "555-0100", "ann@example.org", "Bob", "Lee", "555-0199", "bob@example.org"}));

        // Alt reaches the menu bar, whose one entry returns to the main screen.
        press(Qt::Key_Alt);
        press(Qt::Key_Return);
        QVERIFY(QTest::qWaitForWindowActive(m_program->mainScreen()));
        QVERIFY(!browse->isVisible());
        QCOMPARE(QApplication::focusWidget(), control<QWidget>(m_program->mainScreen(), "Text1"));

        // In the search box the same key is a line break in the text, not a search.
        typeText(QApplication::focusWidget(), QStringLiteral("Lee"));
        pressButton();
        if (QTest::currentDataTag() != QByteArray("Space presses a button")) {
            QCOMPARE(control<QPlainTextEdit>(m_program->mainScreen(), "Text1")->toPlainText(), QStringLiteral("Lee\n"));
            QCOMPARE(m_program->mainScreen()->windowTitle(), QStringLiteral("Tesselby: Main Screen"));
        }
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    KeyboardTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Keyboard.moc"
