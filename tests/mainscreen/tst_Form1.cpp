#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <optional>
#include <sys/resource.h>

#include "Application.h"
#include "DataFolder.h"
#include "ModalAnswers.h"
#include "Program.h"
#include "SamplePeople.h"
#include "Screens.h"

using namespace tesselby;

class Form1Test : public QObject {
    Q_OBJECT

private:
    std::optional<DataFolder> m_folder;
    std::optional<Program> m_program;
    Form1* form = nullptr;

    QString label(int number) const
    {
        return control<QLabel>(form, qPrintable(QStringLiteral("Label%1").arg(number)))->text();
    }
    QStringList labels() const { return {label(1), label(2), label(3), label(4)}; }
    QScrollBar* bar() const { return control<QScrollBar>(form, "VScroll1"); }

    void search(const char* option, const QString& text)
    {
        QTest::mouseClick(control<QRadioButton>(form, option), Qt::LeftButton);
        auto* box = control<QPlainTextEdit>(form, "Text1");
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        typeText(box, text);
        QTest::mouseClick(control<QPushButton>(form, "Command1"), Qt::LeftButton);
    }

    void add(const QStringList& answers)
    {
        ModalAnswers prompts;
        for (const QString& answer : answers)
            prompts.then(ModalAnswers::typeAndAccept(answer));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
    }

private slots:
    void init()
    {
        m_folder.emplace();
        m_program.emplace();
        m_program->start();
        form = m_program->mainScreen();
        QVERIFY(QTest::qWaitForWindowActive(form));
    }
    void cleanup()
    {
        m_program.reset();
        m_folder.reset();
    }

    void startsInItsDesignStateWithoutTouchingTheFile()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Tesselby: Main Screen"));
        QCOMPARE(control<QPlainTextEdit>(form, "Text1")->toPlainText(), QString());
        QCOMPARE(QApplication::focusWidget(), control<QWidget>(form, "Text1"));
        QVERIFY(control<QRadioButton>(form, "Option1")->isChecked());
        QCOMPARE(labels(), (QStringList{"First Name: ???", "Last Name: ???", "Phone #: ???", "E-Mail: ???"}));
        QVERIFY(!bar()->isVisible());
        QVERIFY(!QFileInfo::exists(m_folder->folderPath()));
    }

    void optionButtonsFormOneGroup()
    {
        QTest::mouseClick(control<QRadioButton>(form, "Option2"), Qt::LeftButton);
        QTest::mouseClick(control<QRadioButton>(form, "Option4"), Qt::LeftButton);
        QTest::mouseClick(control<QRadioButton>(form, "Option1"), Qt::LeftButton);
        int checked = 0;
        for (const char* name : {"Option1", "Option2", "Option3", "Option4"})
            checked += control<QRadioButton>(form, name)->isChecked() ? 1 : 0;
        QCOMPARE(checked, 1);
        QVERIFY(control<QRadioButton>(form, "Option1")->isChecked());
        QCOMPARE(form->windowTitle(), QStringLiteral("Tesselby: Main Screen"));
    }

    void enterInTheSearchBoxBreaksTheLine()
    {
        auto* box = control<QPlainTextEdit>(form, "Text1");
        QTest::keyClicks(box, "ab");
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClicks(box, "c");
        QCOMPARE(box->toPlainText(), QStringLiteral("ab\nc"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Tesselby: Main Screen"));
    }

    void searchFindsEachPersonByEveryField_data()
    {
        QTest::addColumn<QByteArray>("option");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("matches");
        QTest::newRow("first name") << QByteArray("Option1") << "Ann"
                                    << QStringList{"First Name: Anna", "Last Name: Smithers", "Phone #: 555-0101",
                                                   "E-Mail: anna@example.org"}
                                    << 1;
        QTest::newRow("last name, two") << QByteArray("Option2") << "Smith"
                                        << QStringList{"First Name: John", "Last Name: Smith", "Phone #: 555-0100",
                                                       "E-Mail: john@example.org"}
                                        << 2;
        QTest::newRow("phone") << QByteArray("Option3") << "0101"
                               << QStringList{"First Name: Anna", "Last Name: Smithers", "Phone #: 555-0101",
                                              "E-Mail: anna@example.org"}
                               << 1;
        QTest::newRow("e-mail, empty phone shown")
            << QByteArray("Option4") << "tom@"
            << QStringList{"First Name: Tom", "Last Name: Goldsmith", "Phone #: ", "E-Mail: tom@example.org"} << 1;
        QTest::newRow("empty text skips empty fields")
            << QByteArray("Option3") << ""
            << QStringList{"First Name: John", "Last Name: Smith", "Phone #: 555-0100", "E-Mail: john@example.org"}
            << 2;
        QTest::newRow("a line separator, as typed")
            << QByteArray("Option1") << QString::fromUtf8("y\u2028J")
            << QStringList{QString::fromUtf8("First Name: Mary\u2028Jo"), QString::fromUtf8("Last Name: Lee\u00A0Ray"),
                           "Phone #: ", "E-Mail: mary@example.org"}
            << 1;
        QTest::newRow("a non-breaking space, as typed")
            << QByteArray("Option2") << QString::fromUtf8("e\u00A0R")
            << QStringList{QString::fromUtf8("First Name: Mary\u2028Jo"), QString::fromUtf8("Last Name: Lee\u00A0Ray"),
                           "Phone #: ", "E-Mail: mary@example.org"}
            << 1;
        QTest::newRow("value too long to lay out, shortened")
            << QByteArray("Option4") << "long@"
            << QStringList{"First Name: Long",
                           "Last Name: " + QString(65536, 'y') + QString::fromUtf8(" … [shortened: 100.0 kB in all]"),
                           "Phone #: ", "E-Mail: long@example.org"}
            << 1;
    }
    void searchFindsEachPersonByEveryField()
    {
        QFETCH(QByteArray, option);
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        QFETCH(int, matches);
        m_folder->write(itemLines(kThreePeople + QStringList{QString::fromUtf8("Mary\u2028Jo"),
                                                             QString::fromUtf8("Lee\u00A0Ray"), "", "mary@example.org",
                                                             "Long", QString(100000, 'y'), "", "long@example.org"}));
        search(option.constData(), text);
        QCOMPARE(form->windowTitle(), QStringLiteral("FOUND!"));
        QCOMPARE(labels(), shown);
        QVERIFY(bar()->isVisible());
        QCOMPARE(bar()->minimum(), 1);
        QCOMPARE(bar()->maximum(), matches);
        QCOMPARE(bar()->value(), 1);
    }

    void searchWithoutMatchSaysNotFound_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("option");
        QTest::addColumn<QString>("text");
        QTest::newRow("case differs") << itemLines(kThreePeople) << QByteArray("Option2") << "smithers";
        QTest::newRow("text only in another field") << itemLines(kThreePeople) << QByteArray("Option1") << "Smith";
        QTest::newRow("empty file") << QByteArray() << QByteArray("Option1") << "";
        QTest::newRow("incomplete record") << itemLines({"John", "Smith", "555"}) << QByteArray("Option1") << "John";
        QTest::newRow("trailing items of seven")
            << itemLines({"A", "B", "C", "D", "John", "Smith", "555"}) << QByteArray("Option1") << "John";
    }
    void searchWithoutMatchSaysNotFound()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, option);
        QFETCH(QString, text);
        m_folder->write(itemLines(kThreePeople));
        search("Option1", "John"); // a previous match must not linger
        QVERIFY(bar()->isVisible());
        m_folder->write(file);
        search(option.constData(), text);
        QCOMPARE(form->windowTitle(), QStringLiteral("NOT FOUND!"));
        QCOMPARE(labels(), (QStringList{"First Name: ???", "Last Name: ???", "Phone #: ???", "E-Mail: ???"}));
        QVERIFY(!bar()->isVisible());
    }

    void searchWithNoDataFileIsAnEmptyList()
    {
        search("Option1", "John");
        QCOMPARE(form->windowTitle(), QStringLiteral("NOT FOUND!"));
        QCOMPARE(label(1), QStringLiteral("First Name: ???"));
        QVERIFY(!bar()->isVisible());
        QVERIFY(!m_folder->exists());
    }

    void unreadableFileIsReportedAndNothingChanges()
    {
        m_folder->putFolderInPlace();
        ModalAnswers answers;
        ModalAnswers::Seen seen;
        answers.then(ModalAnswers::look(&seen, ModalAnswers::click(QDialogButtonBox::Ok)));
        search("Option1", "John");
        QVERIFY(answers.allAnswered());
        QCOMPARE(seen.title, QStringLiteral("Tesselby"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.contains(m_folder->filePath()), qPrintable(seen.text));
        QVERIFY2(seen.text.contains("folder in its place"), qPrintable(seen.text));
        QCOMPARE(form->windowTitle(), QStringLiteral("NOT FOUND!"));
        QVERIFY(QFileInfo(m_folder->filePath()).isDir());
        QVERIFY(form->isVisible());
    }

    void barPagesThroughMatchesAndANewSearchStartsOver()
    {
        m_folder->write(itemLines(kThreePeople));
        search("Option2", "mith");
        QCOMPARE(bar()->maximum(), 3);
        bar()->setFocus();
        QTest::keyClick(bar(), Qt::Key_Down);
        QCOMPARE(label(1), QStringLiteral("First Name: Anna"));
        QTest::mouseClick(bar(), Qt::LeftButton, {}, QPoint(bar()->width() / 2, bar()->height() - 3)); // down arrow
        QCOMPARE(bar()->value(), 3);
        QCOMPARE(labels(),
                 (QStringList{"First Name: Tom", "Last Name: Goldsmith", "Phone #: ", "E-Mail: tom@example.org"}));
        QCOMPARE(form->windowTitle(), QStringLiteral("FOUND!"));
        QTest::keyClick(bar(), Qt::Key_Home);
        QCOMPARE(label(1), QStringLiteral("First Name: John"));

        QTest::keyClick(bar(), Qt::Key_End);
        search("Option2", "Smith");
        QCOMPARE(bar()->maximum(), 2);
        QCOMPARE(bar()->value(), 1);
        QCOMPARE(label(1), QStringLiteral("First Name: John"));
    }

    void everyOneOfManyMatchesCanBePagedTo()
    {
        QByteArray file;
        const int people = 40000;
        for (int i = 1; i <= people; ++i)
            file += itemLines({QStringLiteral("Person%1").arg(i), "Doe", "", ""});
        m_folder->write(file);
        search("Option2", "Doe");
        QCOMPARE(bar()->maximum(), people);
        bar()->setFocus();
        QTest::keyClick(bar(), Qt::Key_End);
        QCOMPARE(label(1), QStringLiteral("First Name: Person%1").arg(people));
    }

    void valuesAreShownAsTypedNotAsMarkup()
    {
        m_folder->write(itemLines({"<b>Bold</b>", "Lee", "", ""}));
        search("Option2", "Lee");
        auto* first = control<QLabel>(form, "Label1");
        QCOMPARE(first->textFormat(), Qt::PlainText);
        QCOMPARE(first->text(), QStringLiteral("First Name: <b>Bold</b>"));
    }

    void addAsksFourQuestionsAndAppendsOneRecord()
    {
        ModalAnswers prompts;
        ModalAnswers::Seen seen[4];
        const QStringList answers = {"Zoë", "O'Brien, Jr.", " 555 0199 ", "Say \"hi\""};
        for (int i = 0; i < 4; ++i)
            prompts.then(ModalAnswers::look(&seen[i], ModalAnswers::typeAndAccept(answers[i])));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        const QStringList questions = {"What is your First Name?", "What is your Last Name?",
                                       "What is your Phone Number?", "What is your E-Mail?"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(seen[i].title, QStringLiteral("Tesselby"));
            QCOMPARE(seen[i].text, questions[i]);
            QCOMPARE(seen[i].entry, QString());
        }
        QCOMPARE(m_folder->read(), itemLines(answers));
        QCOMPARE(form->windowTitle(), QStringLiteral("Tesselby: Main Screen"));
        QCOMPARE(label(1), QStringLiteral("First Name: ???"));

        search("Option4", "\"hi\"");
        QCOMPARE(labels(), (QStringList{QString::fromUtf8("First Name: Zoë"), "Last Name: O'Brien, Jr.",
                                        "Phone #:  555 0199 ", "E-Mail: Say \"hi\""}));
    }

    void pastedAnswersKeepEveryCharacter()
    {
        QString longAnswer;
        for (int i = 0; longAnswer.size() < 100000; ++i)
            longAnswer += QString::number(i) + QLatin1Char(' ');
        ModalAnswers prompts;
        prompts.then([&](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>();
            QVERIFY(edit != nullptr);
            QApplication::clipboard()->setText(longAnswer);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        for (const char* answer : {"Lee", "555", "lee@x"})
            prompts.then(ModalAnswers::typeAndAccept(answer));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        QCOMPARE(m_folder->read(), itemLines({longAnswer, "Lee", "555", "lee@x"}));
    }

    void cancelledPromptsStoreEmptyFields()
    {
        add({"Ann", "Lee", "555", "ann@x"});
        ModalAnswers prompts;
        prompts.then(ModalAnswers::typeAndAccept("Bob"))
            .then(ModalAnswers::typeAndAccept("Ray"))
            .then(ModalAnswers::click(QDialogButtonBox::Cancel))
            .then(ModalAnswers::typeAndAccept("bob@x"));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        ModalAnswers allCancelled;
        for (int i = 0; i < 4; ++i)
            allCancelled.then(ModalAnswers::click(QDialogButtonBox::Cancel));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(allCancelled.allAnswered());
        QCOMPARE(m_folder->read(),
                 itemLines({"Ann", "Lee", "555", "ann@x", "Bob", "Ray", "", "bob@x", "", "", "", ""}));
    }

    void addLeavesTheSearchResultShown()
    {
        m_folder->write(itemLines(kThreePeople));
        search("Option1", "Tom");
        add({"Tomas", "Lee", "", ""});
        QCOMPARE(label(1), QStringLiteral("First Name: Tom"));
        QCOMPARE(bar()->maximum(), 1);
        search("Option1", "Tom");
        QCOMPARE(bar()->maximum(), 2);
    }

    void failedAddIsReportedRetriedAndLeavesTheFile()
    {
        m_folder->putFolderInPlace();
        ModalAnswers answers;
        ModalAnswers::Seen first, second;
        for (const char* answer : {"Ann", "Lee", "555", "ann@x"})
            answers.then(ModalAnswers::typeAndAccept(answer));
        answers.then(ModalAnswers::look(&first, [this](QWidget* dialog) {
            // Mend the fault while the message is open, then retry: the typed entry must survive.
            QVERIFY(QDir(m_folder->filePath()).removeRecursively());
            ModalAnswers::click(QDialogButtonBox::Retry)(dialog);
        }));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(answers.allAnswered());
        QCOMPARE(first.title, QStringLiteral("Tesselby"));
        QCOMPARE(first.icon, QMessageBox::Critical);
        QVERIFY2(first.text.contains(m_folder->filePath()), qPrintable(first.text));
        QCOMPARE(m_folder->read(), itemLines({"Ann", "Lee", "555", "ann@x"}));

        QFile::remove(m_folder->filePath());
        m_folder->putFolderInPlace();
        ModalAnswers cancelled;
        for (int i = 0; i < 4; ++i)
            cancelled.then(ModalAnswers::typeAndAccept("x"));
        cancelled.then(ModalAnswers::look(&second, ModalAnswers::click(QDialogButtonBox::Cancel)));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(cancelled.allAnswered());
        QVERIFY(QFileInfo(m_folder->filePath()).isDir());
        QVERIFY(form->isVisible());
    }

    void addOnAFullDiskIsReportedAndLeavesTheFile()
    {
        const QByteArray before = itemLines(kThreePeople);
        m_folder->write(before);
        // A full disk, as a file-size limit just past the file; it holds for root too.
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit tight = old;
        tight.rlim_cur = static_cast<rlim_t>(before.size() + 8);
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        ModalAnswers answers;
        ModalAnswers::Seen seen;
        for (const char* answer : {"Dee", "Dee", "555-0199", "dee@example.org"})
            answers.then(ModalAnswers::typeAndAccept(answer));
        answers.then(ModalAnswers::look(&seen, ModalAnswers::click(QDialogButtonBox::Cancel)));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);
        QVERIFY(answers.allAnswered());
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.contains(m_folder->filePath()), qPrintable(seen.text));
        QVERIFY2(seen.text.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(seen.text));
        QCOMPARE(m_folder->read(), before);
    }

    // A step after the add fails, as a close that reports a late write error on a network share: the
    // person is in the list, so the message says so and offers no Retry, which would add them twice.
    // Run again in a child, where the fault shim fails the list's first close after making it.
    void addThatLandedUnconfirmedIsNotOfferedAgain()
    {
#ifdef TESSELBY_FAULT_SHIM
        if (qEnvironmentVariableIsEmpty("TESSELBY_FAULT_CALL")) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("LD_PRELOAD", TESSELBY_FAULT_SHIM);
            environment.insert("TESSELBY_FAULT_CALL", "close");
            environment.insert("TESSELBY_FAULT_FILE", "/tesselby.txt");
            environment.insert("TESSELBY_FAULT_ERROR", "EIO");
            environment.insert("TESSELBY_FAULT_AFTER", "1");
            // The add's own close, past the two reads of the list's end the history makes before it.
            environment.insert("TESSELBY_FAULT_NTH", "3");
            // The sanitizers' runtime would refuse to come after the shim.
            environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
            QProcess child;
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(), {"addThatLandedUnconfirmedIsNotOfferedAgain"});
            QVERIFY(child.waitForFinished(120000));
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     (child.readAllStandardOutput() + child.readAllStandardError()).constData());
            return;
        }
        ModalAnswers answers;
        ModalAnswers::Seen seen;
        for (const char* answer : {"Ann", "Lee", "555", "ann@x"})
            answers.then(ModalAnswers::typeAndAccept(answer));
        answers.then(ModalAnswers::look(&seen, ModalAnswers::click(QDialogButtonBox::Ok)));
        QTest::mouseClick(control<QPushButton>(form, "Command2"), Qt::LeftButton);
        QVERIFY(answers.allAnswered());
        QCOMPARE(seen.icon, QMessageBox::Information);
        QCOMPARE(seen.buttons, QStringList{"OK"});
        QVERIFY2(seen.text.contains("Tesselby added the entry"), qPrintable(seen.text));
        QVERIFY2(seen.text.contains(QString::fromLocal8Bit(std::strerror(EIO))), qPrintable(seen.text));
        QCOMPARE(m_folder->read(), itemLines({"Ann", "Lee", "555", "ann@x"}));
#else
        QSKIP("the fault shim is built on Linux only");
#endif
    }

    void aboutShowsTwoLinesUnderTheProgramsName()
    {
        ModalAnswers answers;
        ModalAnswers::Seen seen;
        answers.then(ModalAnswers::look(&seen, ModalAnswers::click(QDialogButtonBox::Ok)));
        chooseMenuEntry(form, "mnuAbout");
        QVERIFY(answers.allAnswered());
        QCOMPARE(seen.title, QStringLiteral("Tesselby"));
        QCOMPARE(seen.icon, QMessageBox::Information);
        QCOMPARE(seen.buttons, QStringList{"OK"});
        const QStringList lines = seen.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[1], QStringLiteral("Tesselby will create a file, c:/tesselby.txt, to use during runtime. "
                                          "Do not edit or delete this file."));
        QVERIFY2(seen.linesWhole, "a sentence of the About message wraps");
        QCOMPARE(QFontInfo(seen.font).family(), QFontInfo(form->font()).family());
        QCOMPARE(seen.font.pointSizeF(), form->font().pointSizeF());
    }

    void exitDoesNothing()
    {
        chooseMenuEntry(form, "mnuExit");
        control<QPushButton>(form, "Command1")->setFocus();
        QTest::keyClick(form, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(form->isVisible());
        QCOMPARE(m_program->mainScreen(), form);
        QCOMPARE(form->windowTitle(), QStringLiteral("Tesselby: Main Screen"));
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    Form1Test test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Form1.moc"
