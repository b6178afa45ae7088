#include "Form2.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <climits>

#include "ButtonKeys.h"
#include "DesignFont.h"
#include "DisplayText.h"
#include "ScrollBarKeys.h"
#include "Twips.h"

namespace tesselby {

namespace {

const QString kCaption = QStringLiteral("Tesselby: Browse / Edit");

QLabel* makeLabel(QWidget* parent, const char* name, Field field, int top)
{
    auto* label = new QLabel(QString::fromUtf8(namesOf(field).caption) + QLatin1Char(':'), parent);
    label->setObjectName(QLatin1String(name));
    placeInTwips(label, 240, top, 855, 255);
    return label;
}

} // namespace

Form2::Form2(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(kCaption);
    setFont(designDefaultFont());
    createControls();

    // A menu-bar entry without a drop-down list acts as soon as it is chosen.
    mnuRMS = menuBar()->addAction(QStringLiteral("Return to Main Screen"));
    mnuRMS->setObjectName(QStringLiteral("mnuRMS"));
    connect(mnuRMS, &QAction::triggered, this, &Form2::mnuRMS_Click);

    resize(twipsToSize(this, 3525, 2175) + QSize(0, menuBar()->sizeHint().height()));
}

void Form2::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(client);

    Command1 = new QPushButton(QStringLiteral("EDIT"), client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFont(designFont(
        {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")}, 14.25,
        true, QFont::Serif));
    Command1->setAutoDefault(false);
    pressOnEnter(Command1);
    placeInTwips(Command1, 1200, 1560, 1215, 495);

    HScroll1 = new QScrollBar(Qt::Horizontal, client);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(1);
    HScroll1->setFocusPolicy(Qt::StrongFocus);
    useReadingOrderArrowKeys(HScroll1);
    HScroll1->setAccessibleName(QStringLiteral("Record"));
    HScroll1->setAccessibleDescription(QStringLiteral("Pages through everyone in the list"));
    placeInTwips(HScroll1, 240, 1200, 3135, 255);

    DataValue[0] = new QLineEdit(QStringLiteral("???"), client);
    DataValue[0]->setObjectName(QStringLiteral("DataValue"));
    DataValue[0]->setMaxLength(INT_MAX); // the default limit would cut long values short on save
    placeInTwips(DataValue[0], 1080, 240, 2295, 285);
    DataValue[0]->hide();

    Label4 = makeLabel(client, "Label4", Field::Email, 960);
    Label3 = makeLabel(client, "Label3", Field::Phone, 720);
    Label2 = makeLabel(client, "Label2", Field::LastName, 480);
    Label1 = makeLabel(client, "Label1", Field::FirstName, 240);

    connect(HScroll1, &QScrollBar::valueChanged, this, &Form2::HScroll1_Change);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

void Form2::closeEvent(QCloseEvent* event)
{
    // Closing the frame must not leave the person without a window: it returns like the menu does.
    event->ignore();
    mnuRMS_Click();
}

void Form2::mnuRMS_Click()
{
    emit returnToMainScreenRequested();
}

void Form2::showRecord(std::size_t number)
{
    if (number < 1 || number > recordGrid.recordCount())
        return;
    typedOver.fill(std::nullopt);
    for (const Field field : kFields) {
        const ValueStart value = recordGrid.fieldStart(number, field, kShownValueBytes);
        shownTexts[field] = displayText(value.text, value.cut, value.storedBytes);
        QLineEdit* box = valueBox(field);
        box->setText(shownTexts[field]);
        // A shortened value cannot be edited here; left alone, every save keeps it as it is.
        box->setReadOnly(value.cut);
        box->setToolTip(value.cut ? QStringLiteral("Too long to show or edit here; it is kept as it is.") : QString());
    }
}

void Form2::HScroll1_Change()
{
    showRecord(static_cast<std::size_t>(HScroll1->value()));
}

} // namespace tesselby
