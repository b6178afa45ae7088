#include <QApplication>
#include <QLineEdit>
#include <QtTest>

#include "ControlArray.h"
#include "DesignFont.h"
#include "Dialogs.h"
#include "ModalAnswers.h"
#include "Twips.h"
#include "WindowInstance.h"

using namespace tesselby;

namespace {

// Counts how many windows of its kind exist, to see instances come and go.
class CountedWindow : public QWidget {
public:
    CountedWindow() { ++alive; }
    ~CountedWindow() override { --alive; }
    static inline int alive = 0;
};

} // namespace

class RuntimeTest : public QObject {
    Q_OBJECT

private slots:
    void twipsConvertAtTheScreensResolution_data()
    {
        QTest::addColumn<int>("twips");
        QTest::addColumn<qreal>("dpi");
        QTest::addColumn<int>("pixels");
        QTest::newRow("15 twips a pixel at 96 dpi") << 3150 << 96.0 << 210;
        QTest::newRow("twice as many at 192 dpi") << 3150 << 192.0 << 420;
        QTest::newRow("an inch") << 1440 << 120.0 << 120;
        QTest::newRow("rounds to nearest") << 255 << 120.0 << 21; // 21.25
        QTest::newRow("rounds half up") << 12 << 60.0 << 1;       // 0.5
        QTest::newRow("zero") << 0 << 96.0 << 0;
    }
    void twipsConvertAtTheScreensResolution()
    {
        QFETCH(int, twips);
        QFETCH(qreal, dpi);
        QFETCH(int, pixels);
        QCOMPARE(twipsToPixels(twips, dpi), pixels);
    }

    void windowInstanceIsCreatedOnceAndAnewAfterUnload()
    {
        int created = 0;
        {
            WindowInstance<CountedWindow> instance([&created](CountedWindow*) { ++created; });
            QVERIFY(!instance.isLoaded());
            CountedWindow* first = instance.get();
            first->setProperty("state", "changed");
            first->hide();
            QCOMPARE(instance.get(), first); // hiding keeps the instance and its state
            QCOMPARE(instance.get()->property("state").toString(), QStringLiteral("changed"));
            instance.unload();
            QVERIFY(!instance.isLoaded());
            QCOMPARE(CountedWindow::alive, 0);
            QVERIFY(!instance.get()->property("state").isValid());
            QCOMPARE(created, 2);
        }
        QCOMPARE(CountedWindow::alive, 0);
    }

    void promptReturnsTypedTextOrNothing()
    {
        ModalAnswers answers;
        ModalAnswers::Seen first, second;
        answers.then(ModalAnswers::look(&first, ModalAnswers::typeAndAccept("typed, \"quoted\"")))
            .then(ModalAnswers::look(&second,
                                     [](QWidget* dialog) {
                                         typeText(dialog->findChild<QLineEdit*>(), QStringLiteral("dropped"));
                                         ModalAnswers::click(QDialogButtonBox::Cancel)(dialog);
                                     }))
            .then([](QWidget* dialog) {
                typeText(dialog->findChild<QLineEdit*>(), QStringLiteral("dropped too"));
                QTest::keyClick(dialog, Qt::Key_Escape);
            });
        QCOMPARE(inputBox(nullptr, QStringLiteral("Question?")), QStringLiteral("typed, \"quoted\""));
        QCOMPARE(first.title, QStringLiteral("Tesselby"));
        QCOMPARE(first.text, QStringLiteral("Question?"));
        QCOMPARE(first.entry, QString());
        QCOMPARE(QFontInfo(first.font).family(), QFontInfo(designDefaultFont()).family());
        QCOMPARE(first.font.pointSizeF(), designDefaultFont().pointSizeF());
        QCOMPARE(inputBox(nullptr, QStringLiteral("Question?"), QStringLiteral("Own title")), QString());
        QCOMPARE(second.title, QStringLiteral("Own title"));
        QCOMPARE(inputBox(nullptr, QStringLiteral("Question?")), QString());
        QVERIFY(answers.allAnswered());
    }

    void messageBreaksLinesAtALoneCarriageReturn()
    {
        ModalAnswers answers;
        ModalAnswers::Seen seen;
        answers.then(ModalAnswers::look(&seen, ModalAnswers::click(QDialogButtonBox::Ok)));
        QVERIFY(messageBox(nullptr, QStringLiteral("one\rtwo\r\nthree <b>"), MessageStyle::Information));
        QCOMPARE(seen.text, QStringLiteral("one\ntwo\nthree <b>"));
        QCOMPARE(seen.title, QStringLiteral("Tesselby"));
        QCOMPARE(seen.icon, QMessageBox::Information);

        answers.then(ModalAnswers::look(&seen, ModalAnswers::click(QDialogButtonBox::Cancel)));
        QVERIFY(!messageBox(nullptr, QStringLiteral("failed"), MessageStyle::CriticalRetry));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.buttons.size(), 2);
    }

    void controlArrayElementCopiesItsTemplate()
    {
        QWidget window;
        auto* element0 = new QLineEdit(QStringLiteral("???"), &window);
        element0->setObjectName(QStringLiteral("DataValue"));
        element0->setGeometry(72, 16, 153, 19);
        element0->setFont(QFont(QStringLiteral("Serif"), 17));
        element0->setMaxLength(100000);
        window.show();
        QLineEdit* element = loadTextBoxElement(element0, 3);
        QCOMPARE(element->objectName(), QStringLiteral("DataValue(3)"));
        QCOMPARE(element->parentWidget(), &window);
        QCOMPARE(element->size(), element0->size());
        QCOMPARE(element->font(), element0->font());
        QCOMPARE(element->text(), QStringLiteral("???"));
        QCOMPARE(element->maxLength(), 100000);
        QVERIFY(!element->isVisible());
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tesselby"));
    RuntimeTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Runtime.moc"
