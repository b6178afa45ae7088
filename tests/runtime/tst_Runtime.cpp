#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <QtTest>
#include <cstdlib>

#include "ControlArray.h"
#include "DesignFont.h"
#include "Dialogs.h"
#include "ModalAnswers.h"
#include "ReadableStyle.h"
#include "Twips.h"
#include "WindowInstance.h"

using namespace tesselby;

namespace {

// A scroll bar that tells where its style puts the thumb and the groove.
class MeasuredScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;
    QRect part(QStyle::SubControl which) const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, which, this);
    }
    // The bar as its style draws it, with or without the keyboard's focus.
    QImage drawn(bool focused) const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.state.setFlag(QStyle::State_HasFocus, focused);
        QImage picture(size(), QImage::Format_ARGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
        return picture;
    }
};

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

    void scrollBarThumbStandsOutFromItsGroove_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<Qt::Orientation>("orientation");
        for (const QString& style : QStyleFactory::keys()) {
            QTest::newRow(qPrintable(style + QStringLiteral(", across"))) << style << Qt::Horizontal;
            QTest::newRow(qPrintable(style + QStringLiteral(", upright"))) << style << Qt::Vertical;
        }
    }
    void scrollBarThumbStandsOutFromItsGroove()
    {
        QFETCH(QString, style);
        QFETCH(Qt::Orientation, orientation);
        ReadableStyle readable(style);
        MeasuredScrollBar bar(orientation);
        bar.setStyle(&readable);
        bar.setRange(1, 10);
        bar.setPageStep(1);
        bar.resize(orientation == Qt::Horizontal ? QSize(200, 20) : QSize(20, 200));
        const QImage picture = bar.grab().toImage();
        const QRect thumb = bar.part(QStyle::SC_ScrollBarSlider);
        const QRect groove = bar.part(QStyle::SC_ScrollBarGroove);
        // Halfway between the thumb, at the start, and the groove's far end.
        const QPoint beyond = orientation == Qt::Horizontal
                                  ? QPoint((thumb.right() + groove.right()) / 2, groove.center().y())
                                  : QPoint(groove.center().x(), (thumb.bottom() + groove.bottom()) / 2);
        const int thumbGrey = qGray(picture.pixel(thumb.center()));
        const int grooveGrey = qGray(picture.pixel(beyond));
        QVERIFY2(std::abs(thumbGrey - grooveGrey) >= 48,
                 qPrintable(QStringLiteral("thumb %1, groove %2").arg(thumbGrey).arg(grooveGrey)));
    }

    void focusedScrollBarShowsItsFocus_data() { scrollBarThumbStandsOutFromItsGroove_data(); }
    void focusedScrollBarShowsItsFocus()
    {
        QFETCH(QString, style);
        QFETCH(Qt::Orientation, orientation);
        ReadableStyle readable(style);
        MeasuredScrollBar bar(orientation);
        bar.setStyle(&readable);
        bar.setRange(1, 10);
        bar.setPageStep(1);
        bar.resize(orientation == Qt::Horizontal ? QSize(200, 20) : QSize(20, 200));
        const QImage unfocused = bar.drawn(false);
        const QImage focused = bar.drawn(true);
        // The difference stands on the thumb, where the arrow keys act.
        const QRect thumb = bar.part(QStyle::SC_ScrollBarSlider);
        int changed = 0;
        for (int y = thumb.top(); y <= thumb.bottom(); ++y)
            for (int x = thumb.left(); x <= thumb.right(); ++x)
                changed += focused.pixel(x, y) != unfocused.pixel(x, y);
        QVERIFY2(changed >= std::min(thumb.width(), thumb.height()), qPrintable(QString::number(changed)));
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
