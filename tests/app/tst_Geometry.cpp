// Every control of both screens against its definition in twips. Run once at scale 1 and once with
// QT_SCALE_FACTOR=2 (TESSELBY_EXPECTED_SCALE=2), where every control must come out exactly twice as
// large in device pixels.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QtTest>
#include <optional>

#include "Application.h"
#include "DataFolder.h"
#include "Program.h"
#include "Screens.h"
#include "Twips.h"

using namespace tesselby;

namespace {

struct Placement {
    const char* name;
    int left, top, width, height;
    const char* text; // the caption or text shown at first; none where it has none or depends on the list
};

constexpr Placement kMainScreen[] = {
    {"Text1", 1320, 120, 1815, 735, ""},
    {"Frame1", 0, 0, 1335, 1335, "Search For..."},
    {"Option1", 120, 240, 1095, 255, "First Name"},
    {"Option2", 120, 480, 1095, 255, "Last Name"},
    {"Option3", 120, 720, 1095, 255, "Phone #"},
    {"Command1", 1320, 840, 1815, 495, "SEARCH!!!"},
    {"Label1", 0, 1440, 2895, 255, "First Name: ???"},
    {"Label2", 0, 1680, 2895, 255, "Last Name: ???"},
    {"Label3", 0, 1920, 2895, 255, "Phone #: ???"},
    {"Command2", 0, 2400, 3135, 495, "ADD A NEW FILE"},
    {"VScroll1", 2880, 1320, 255, 1050, nullptr},
    {"Label4", 0, 2160, 2895, 255, "E-Mail: ???"},
    {"Option4", 120, 960, 1095, 255, "E-Mail"},
};

// What the boxes of the fields show depends on the list, so only the template's text is checked.
constexpr Placement kBrowseScreen[] = {
    {"Command1", 1200, 1560, 1215, 495, "EDIT"},     {"HScroll1", 240, 1200, 3135, 255, nullptr},
    {"DataValue", 1080, 240, 2295, 285, "???"},      {"Label4", 240, 960, 855, 255, "E-Mail:"},
    {"Label3", 240, 720, 855, 255, "Phone #:"},      {"Label2", 240, 480, 855, 255, "Last Name:"},
    {"Label1", 240, 240, 855, 255, "First Name:"},   {"DataValue(1)", 1080, 200, 2295, 285, nullptr},
    {"DataValue(2)", 1080, 440, 2295, 285, nullptr}, {"DataValue(3)", 1080, 680, 2295, 285, nullptr},
    {"DataValue(4)", 1080, 920, 2295, 285, nullptr},
};

// The text a control shows: its caption, or what its box holds.
QString shownText(QWidget* control)
{
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(control))
        return frame->title();
    if (auto* box = qobject_cast<QLineEdit*>(control))
        return box->text();
    if (auto* box = qobject_cast<QPlainTextEdit*>(control))
        return box->toPlainText();
    return QStringLiteral("(no text)");
}

qreal expectedScale()
{
    return qEnvironmentVariableIsSet("TESSELBY_EXPECTED_SCALE")
               ? qEnvironmentVariable("TESSELBY_EXPECTED_SCALE").toDouble()
               : 1.0;
}

void checkPlacements(QMainWindow* window, const Placement* placements, std::size_t count, int clientWidth,
                     int clientHeight)
{
    const qreal scale = window->devicePixelRatioF();
    QCOMPARE(scale, expectedScale());
    QWidget* client = window->centralWidget();
    QCOMPARE(client->size(), twipsToSize(client, clientWidth, clientHeight));
    // Drawn, the client area covers exactly its size in device pixels.
    QCOMPARE(client->grab().size(), client->size() * scale);
    for (std::size_t i = 0; i < count; ++i) {
        const Placement& p = placements[i];
        QWidget* control = window->findChild<QWidget*>(QLatin1String(p.name));
        QVERIFY2(control != nullptr, p.name);
        const QRect expected = twipsToRect(control, p.left, p.top, p.width, p.height);
        QCOMPARE(control->geometry(), expected);
        // At 96 dpi a pixel is 15 twips; every device pixel size is the 96-dpi one times the scale.
        QCOMPARE(qRound(control->width() * scale), qRound(twipsToPixels(p.width, 96) * scale));
        QCOMPARE(qRound(control->height() * scale), qRound(twipsToPixels(p.height, 96) * scale));
        if (p.text != nullptr)
            QCOMPARE(shownText(control), QString::fromUtf8(p.text));
    }
}

} // namespace

class GeometryTest : public QObject {
    Q_OBJECT

private:
    std::optional<DataFolder> m_folder;
    std::optional<Program> m_program;

private slots:
    void init()
    {
        m_folder.emplace();
        m_folder->write(itemLines({"Ann", "Lee", "555", "ann@example.org"}));
        m_program.emplace();
        m_program->start();
        QVERIFY(QTest::qWaitForWindowExposed(m_program->mainScreen()));
    }
    void cleanup()
    {
        m_program.reset();
        m_folder.reset();
    }

    void mainScreenMatchesItsDefinition()
    {
        checkPlacements(m_program->mainScreen(), kMainScreen, std::size(kMainScreen), 3150, 2880);
    }

    void browseScreenMatchesItsDefinition()
    {
        chooseMenuEntry(m_program->mainScreen(), "mnuODB");
        QVERIFY(m_program->browseScreen() != nullptr);
        checkPlacements(m_program->browseScreen(), kBrowseScreen, std::size(kBrowseScreen), 3525, 2175);
    }

    void everyControlHasANameAScreenReaderCanSay()
    {
        chooseMenuEntry(m_program->mainScreen(), "mnuODB");
        chooseMenuEntry(m_program->browseScreen(), "mnuRMS");
        for (QMainWindow* window : {static_cast<QMainWindow*>(m_program->mainScreen()),
                                    static_cast<QMainWindow*>(m_program->browseScreen())}) {
            for (QWidget* control : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (control->objectName() == QLatin1String("DataValue"))
                    continue; // the never-shown template
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
                QVERIFY(accessible != nullptr);
                QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(control->objectName()));
            }
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(control<QLineEdit>(m_program->browseScreen(), "DataValue(3)"))
                     ->text(QAccessible::Name),
                 QStringLiteral("Phone #"));
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    GeometryTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Geometry.moc"
