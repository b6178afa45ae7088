#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <climits>

#include "ControlArray.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "Dialogs.h"
#include "Form2.h"
#include "Twips.h"

namespace tesselby {

namespace {

const QString kFieldNames[kFieldCount] = {QStringLiteral("First Name"), QStringLiteral("Last Name"),
                                          QStringLiteral("Phone #"), QStringLiteral("E-Mail")};
const QString kNoEntriesYet =
    QStringLiteral("The address list has no entries yet.\n\nPress \"ADD A NEW FILE\" on the main screen to add one.");

} // namespace

bool Form2::Form_Load()
{
    for (int f = 1; f <= kFieldCount; ++f) {
        DataValue[f] = loadTextBoxElement(DataValue[0], f);
        placeInTwips(DataValue[f], 1080, 240 * f - 40, 2295, 285);
        DataValue[f]->setAccessibleName(kFieldNames[f - 1]);
        DataValue[f]->show();
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
    Result<RecordGrid> loaded = loadRecordGrid(dataFilePath(kDataFileReadPath));
    if (!loaded) {
        reportFileFailure(isVisible() ? this : nullptr, QStringLiteral("Tesselby could not read the address list"),
                          loaded.error().path, loaded.error().reason);
        return ListLoad::Failed;
    }
    if (loaded.value().itemCount() == 0) {
        messageBox(isVisible() ? this : nullptr, kNoEntriesYet, MessageStyle::Information);
        return ListLoad::Empty;
    }
    recordGrid = std::move(loaded.value());
    itemCount = recordGrid.itemCount();
    HScroll1->setMaximum(static_cast<int>(std::min<std::size_t>(recordGrid.recordCount(), INT_MAX)));
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
