#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <array>
#include <climits>
#include <optional>

#include "ControlArray.h"
#include "DataFile.h"
#include "Dialogs.h"
#include "Form2.h"
#include "Twips.h"
#include "disk/DataFilePath.h"
#include "records/EditPlan.h"

namespace tesselby {

namespace {

const QString kNoEntriesYet =
    QStringLiteral("The address list has no entries yet.\n\nPress \"ADD A NEW FILE\" on the main screen to add one.");

} // namespace

bool Form2::Form_Load()
{
    for (const Field field : kFields) {
        const int element = static_cast<int>(fieldIndex(field)) + 1;
        DataValue[element] = loadTextBoxElement(DataValue[0], element);
        placeInTwips(DataValue[element], 1080, 240 * element - 40, 2295, 285);
        DataValue[element]->setAccessibleName(QString::fromUtf8(namesOf(field).caption));
        DataValue[element]->show();
    }
    setTabOrder(DataValue[1], DataValue[2]);
    setTabOrder(DataValue[2], DataValue[3]);
    setTabOrder(DataValue[3], DataValue[4]);
    setTabOrder(DataValue[4], HScroll1);
    setTabOrder(HScroll1, Command1);

    if (loadList() != ListLoad::Loaded)
        return false;
    showRecord(1);
    HScroll1->setMinimum(1);
    HScroll1->setValue(1);
    DataValue[1]->setFocus();
    return true;
}

Form2::ListLoad Form2::loadList()
{
    const ListLoad loaded = readList(recordGrid);
    if (loaded != ListLoad::Loaded)
        return loaded;
    HScroll1->setMaximum(static_cast<int>(std::min<std::size_t>(recordGrid.recordCount(), INT_MAX)));
    return ListLoad::Loaded;
}

Form2::ListLoad Form2::readList(RecordGrid& into)
{
    const std::filesystem::path path = dataFilePath(kDataFileReadPath);
    // Stamped before reading, so that a change made while the list is read shows as a change next time.
    Result<FileStamp> stamp = stampAt(path);
    Result<RecordGrid> loaded = loadRecordGrid(path);
    emit listRead();
    if (!loaded) {
        reportFileFailure(isVisible() ? this : nullptr, QStringLiteral("Tesselby could not read the address list"),
                          loaded.error().path, loaded.error().reason());
        return ListLoad::Failed;
    }
    if (loaded.value().itemCount() == 0) {
        messageBox(isVisible() ? this : nullptr, kNoEntriesYet, MessageStyle::Information);
        return ListLoad::Empty;
    }
    into = std::move(loaded.value());
    readStamp.reset();
    if (stamp)
        readStamp = stamp.value();
    return ListLoad::Loaded;
}

Form2::ListLoad Form2::readAgainIfChanged()
{
    if (readStamp) {
        const Result<FileStamp> now = stampAt(dataFilePath(kDataFileReadPath));
        if (now && unchangedSince(*readStamp, now.value()))
            return ListLoad::Loaded;
    }
    const auto shown = static_cast<std::size_t>(HScroll1->value());
    // What the person typed and did not save: the boxes that differ from what was shown.
    PerField<std::optional<QString>> typed;
    for (const Field field : kFields) {
        if (valueBox(field)->text() != shownTexts[field])
            typed[field] = valueBox(field)->text();
    }
    RecordGrid now;
    const ListLoad loaded = readList(now);
    if (loaded != ListLoad::Loaded)
        return loaded;

    // The person shown, looked for as "EDIT" looks for them; when they are gone, whoever now has their number.
    std::size_t at = std::min(std::max<std::size_t>(shown, 1), now.recordCount());
    if (shown >= 1 && shown <= recordGrid.recordCount()) {
        const EditPlan found = planEdit(recordGrid, shown, now, RecordEdit{});
        if (found.saved())
            at = found.at;
    }
    // What each typed box stood over before: kept from an earlier reading, else what was shown.
    PerField<std::optional<QString>> before;
    for (const Field field : kFields)
        before[field] = typedOver[field] ? typedOver[field] : shownTexts[field];
    recordGrid = std::move(now);
    HScroll1->setMaximum(static_cast<int>(std::min<std::size_t>(recordGrid.recordCount(), INT_MAX)));
    const QSignalBlocker quiet(HScroll1);
    HScroll1->setValue(static_cast<int>(at));
    showRecord(at);
    for (const Field field : kFields) {
        if (typed[field]) {
            valueBox(field)->setText(*typed[field]);
            valueBox(field)->setReadOnly(false);
            if (*before[field] != shownTexts[field])
                typedOver[field] = before[field];
        }
    }
    return ListLoad::Loaded;
}

void Form2::reloadList(std::size_t shown)
{
    const ListLoad loaded = loadList();
    if (loaded == ListLoad::Empty)
        emit listEmptied();
    if (loaded != ListLoad::Loaded)
        return;
    const std::size_t at = std::min(shown, recordGrid.recordCount());
    const QSignalBlocker quiet(HScroll1);
    HScroll1->setValue(static_cast<int>(at));
    showRecord(at);
}

} // namespace tesselby
