#include <QLineEdit>
#include <QScrollBar>
#include <climits>

#include "DataFile.h"
#include "DataFilePath.h"
#include "Dialogs.h"
#include "Form2.h"

namespace tesselby {

void Form2::Command1_Click()
{
    const auto shown = static_cast<std::size_t>(HScroll1->value());
    if (shown < 1 || shown > recordGrid.recordCount())
        return;
    Record edited;
    for (int f = 1; f <= kFieldCount; ++f)
        edited[f - 1] = DataValue[f]->text().toStdString();
    // Kept in the grid even if the save fails, so that pressing "EDIT" again retries it.
    recordGrid.setRecord(shown, std::move(edited));

    if (const Status saved = saveRecordGrid(dataFilePath(kDataFileWritePath), recordGrid); !saved) {
        reportFileFailure(this, QStringLiteral("Tesselby could not save the changes to"), saved.error().path,
                          saved.error().reason, MessageStyle::Critical,
                          QStringLiteral("The file is as it was. Your changes are still here; press \"EDIT\" to "
                                         "try again."));
        return;
    }
    // The saved file may hold records added since the load; the grid has taken them in.
    itemCount = recordGrid.itemCount();
    HScroll1->setMaximum(static_cast<int>(std::min<std::size_t>(recordGrid.recordCount(), INT_MAX)));
}

} // namespace tesselby
