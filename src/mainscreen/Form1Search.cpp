#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextDocument>
#include <new>

#include "DataFile.h"
#include "Dialogs.h"
#include "DisplayText.h"
#include "Form1.h"
#include "disk/DataFilePath.h"

namespace tesselby {

namespace {

const QString kFound = QStringLiteral("FOUND!");
const QString kNotFound = QStringLiteral("NOT FOUND!");

} // namespace

QString Form1::labelText(Field field, const QString& value)
{
    return QString::fromUtf8(namesOf(field).caption) + QStringLiteral(": ") + value;
}

Field Form1::searchField() const
{
    if (Option1->isChecked())
        return Field::FirstName;
    if (Option2->isChecked())
        return Field::LastName;
    if (Option3->isChecked())
        return Field::Phone;
    return Field::Email;
}

void Form1::Command1_Click()
{
    setWindowTitle(kNotFound);
    VScroll1->hide();
    const std::string noValue = kNoValue.toStdString();
    const Record noMatch{noValue, noValue, noValue, noValue};

    const std::filesystem::path path = dataFilePath(kDataFileReadPath);
    // The text exactly as typed (toPlainText would turn line separators and non-breaking spaces into
    // other characters), its line breaks as CR LF, as they would be stored.
    const QString text = Text1->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    Status searched;
    try {
        searched = searchDataFile(path, m_search, searchField(), text.toStdString(), matchGrid);
    } catch (const std::bad_alloc&) {
        searched = FileError{path, FileError::Cause::TooLargeToOpen};
    }
    if (!searched || matchGrid.empty()) {
        matchGrid.clear();
        matchGrid.addRecord(noMatch);
        showMatch(1);
        if (!searched)
            reportFileFailure(this, QStringLiteral("Tesselby could not read the address list"), searched.error().path,
                              searched.error().reason());
        return;
    }
    setWindowTitle(kFound);
    VScroll1->setMaximum(static_cast<int>(std::min<std::size_t>(matchGrid.size(), INT_MAX)));
    VScroll1->setValue(1);
    VScroll1->show();
    showMatch(1);
}

void Form1::VScroll1_Change()
{
    showMatch(VScroll1->value());
}

void Form1::showMatch(int number)
{
    // Paging before the first search leaves the start-up labels alone.
    if (number < 1 || static_cast<std::size_t>(number) > matchGrid.size())
        return;
    const PerField<QLabel*> labels = {Label1, Label2, Label3, Label4};
    for (const Field field : kFields) {
        const ValueStart value = matchGrid.valueStart(static_cast<std::size_t>(number) - 1, field, kShownValueBytes);
        labels[field]->setText(labelText(field, displayText(value.text, value.cut, value.storedBytes)));
    }
}

} // namespace tesselby
