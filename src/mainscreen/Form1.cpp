#include "Form1.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "ButtonKeys.h"
#include "DesignFont.h"
#include "Dialogs.h"
#include "Twips.h"

namespace tesselby {

namespace {

const QString kCaption = QStringLiteral("Tesselby: Main Screen");
const QString kAboutNotice =
    QStringLiteral("Tesselby was written by the Tesselby developers and is free for anyone to use, copy and share.");
const QString kAboutDataFile = QStringLiteral(
    "Tesselby will create a file, c:/tesselby.txt, to use during runtime. Do not edit or delete this file.");

template <typename Control> Control* makeControl(QWidget* parent, const char* name, const QString& text)
{
    auto* control = new Control(text, parent);
    control->setObjectName(QLatin1String(name));
    return control;
}

QString caption(Field field)
{
    return QString::fromUtf8(namesOf(field).caption);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text)
{
    QLabel* label = makeControl<QLabel>(parent, name, text);
    label->setTextFormat(Qt::PlainText); // a stored value is shown as typed, never as markup
    return label;
}

} // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    setFont(designDefaultFont());
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    createMenu();
    setTabOrderAndStacking();
    resize(twipsToSize(this, 3150, 2880) + QSize(0, menuBar()->sizeHint().height()));
    Text1->setFocus();
}

void Form1::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    QPalette grey = client->palette();
    grey.setColor(QPalette::Window, QColor(192, 192, 192));
    client->setPalette(grey);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    Text1 = new QPlainTextEdit(client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTabChangesFocus(true);
    Text1->setAccessibleName(QStringLiteral("Search text"));
    Text1->setAccessibleDescription(QStringLiteral("The text to look for in the field chosen below"));
    placeInTwips(Text1, 1320, 120, 1815, 735);

    Frame1 = makeControl<QGroupBox>(client, "Frame1", QStringLiteral("Search For..."));
    Frame1->setFocusPolicy(Qt::NoFocus);
    placeInTwips(Frame1, 0, 0, 1335, 1335);

    Option1 = makeControl<QRadioButton>(client, "Option1", caption(Field::FirstName));
    placeInTwips(Option1, 120, 240, 1095, 255);
    Option1->setChecked(true);
    Option2 = makeControl<QRadioButton>(client, "Option2", caption(Field::LastName));
    placeInTwips(Option2, 120, 480, 1095, 255);
    Option3 = makeControl<QRadioButton>(client, "Option3", caption(Field::Phone));
    placeInTwips(Option3, 120, 720, 1095, 255);
    Option4 = makeControl<QRadioButton>(client, "Option4", caption(Field::Email));
    placeInTwips(Option4, 120, 960, 1095, 255);

    const QFont buttonFont =
        designFont({QStringLiteral("MS Serif"), QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")},
                   13.5, false, QFont::Serif);
    Command1 = makeControl<QPushButton>(client, "Command1", QStringLiteral("SEARCH!!!"));
    Command1->setFont(buttonFont);
    Command1->setAutoDefault(false);
    pressOnEnter(Command1);
    placeInTwips(Command1, 1320, 840, 1815, 495);
    Command2 = makeControl<QPushButton>(client, "Command2", QStringLiteral("ADD A NEW FILE"));
    Command2->setFont(buttonFont);
    Command2->setAutoDefault(false);
    pressOnEnter(Command2);
    placeInTwips(Command2, 0, 2400, 3135, 495);

    Label1 = makeLabel(client, "Label1", labelText(Field::FirstName, kNoValue));
    placeInTwips(Label1, 0, 1440, 2895, 255);
    Label2 = makeLabel(client, "Label2", labelText(Field::LastName, kNoValue));
    placeInTwips(Label2, 0, 1680, 2895, 255);
    Label3 = makeLabel(client, "Label3", labelText(Field::Phone, kNoValue));
    placeInTwips(Label3, 0, 1920, 2895, 255);
    Label4 = makeLabel(client, "Label4", labelText(Field::Email, kNoValue));
    placeInTwips(Label4, 0, 2160, 2895, 255);

    VScroll1 = new QScrollBar(Qt::Vertical, client);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setRange(1, 100);
    VScroll1->setValue(1);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(1);
    VScroll1->setFocusPolicy(Qt::StrongFocus);
    VScroll1->setAccessibleName(QStringLiteral("Match"));
    VScroll1->setAccessibleDescription(QStringLiteral("Pages through the people found"));
    VScroll1->hide();
    placeInTwips(VScroll1, 2880, 1320, 255, 1050);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form1::VScroll1_Change);
}

void Form1::createMenu()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));

    mnuODB = mnuFile->addAction(QStringLiteral("Open Data Browser"));
    mnuODB->setObjectName(QStringLiteral("mnuODB"));
    mnuODB->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(mnuODB, &QAction::triggered, this, &Form1::mnuODB_Click);

    mnuAbout = mnuFile->addAction(QStringLiteral("About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    connect(mnuAbout, &QAction::triggered, this, &Form1::mnuAbout_Click);

    // "Exit" has no action of its own: it is there, with its shortcut, and does nothing.
    mnuExit = mnuFile->addAction(QStringLiteral("Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
}

void Form1::setTabOrderAndStacking()
{
    // The labels and the frame take no focus, so the chain runs through the controls that can.
    const QWidget* order[] = {Text1, Option1, Option2, Option3, Command1, Command2, VScroll1, Option4};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));

    // Raised bottom first, so that where controls overlap the earlier one in this list lies on top.
    QWidget* topToBottom[] = {Option4, VScroll1, Command2, Command1, Option3, Option2, Option1,
                              Frame1,  Text1,    Label4,   Label3,   Label2,  Label1};
    for (auto it = std::rbegin(topToBottom); it != std::rend(topToBottom); ++it)
        (*it)->raise();
}

void Form1::mnuODB_Click()
{
    emit openDataBrowserRequested();
}

void Form1::mnuAbout_Click()
{
    messageBox(this, kAboutNotice + QLatin1Char('\r') + kAboutDataFile, MessageStyle::Information,
               QStringLiteral("Tesselby"));
}

} // namespace tesselby
