#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>
#include <climits>

#include "DataFile.h"
#include "Dialogs.h"
#include "DisplayText.h"
#include "Form2.h"
#include "disk/DataFilePath.h"

namespace tesselby {

namespace {

const QString kPersonNotFound = QStringLiteral(
    "Nothing was saved: another program changed the address list since it was loaded, and the person shown "
    "here is no longer in it as loaded, or stands in it more than once.\n\n"
    "Load the list again? The boxes then show the list as it is now. Choose No to keep your typed texts in "
    "the boxes.");

// The edit is in the file, but a step after it reached its place (a sync, a close, the removal of the
// save's guard copy) failed; pressing "EDIT" again is not needed.
const QString kSavedUnconfirmed = QStringLiteral(
    "Your changes were saved in %1, but Tesselby could not make sure that they have reached the disk: %2: %3.\n\n"
    "They are in the list; there is no need to press \"EDIT\" again.");

// Both values, each shortened as the screens show them, so that a long one cannot swamp the question.
QString conflictQuestion(const EditConflict& conflict)
{
    return QStringLiteral("Another program changed the %1 of the person shown since the list was loaded.\n\n"
                          "Yours: %2\nThe other: %3\n\nWhich one should the list keep?")
        .arg(QString::fromUtf8(namesOf(conflict.field).inWords), displayValue(conflict.mine),
             displayValue(conflict.theirs));
}

enum class Keep { Mine, Other, Neither };

// Asks which value the list keeps for a field the person and another program both changed.
Keep askWhichToKeep(QWidget* parent, const EditConflict& conflict)
{
    const int answer =
        choose(parent, conflictQuestion(conflict),
               {QStringLiteral("Keep mine"), QStringLiteral("Keep the other"), QStringLiteral("Cancel")});
    return answer == 0 ? Keep::Mine : answer == 1 ? Keep::Other : Keep::Neither;
}

} // namespace

void Form2::Command1_Click()
{
    const auto shown = static_cast<std::size_t>(HScroll1->value());
    if (shown < 1 || shown > recordGrid.recordCount())
        return;
    // Only the boxes the person typed in count as changed; the others keep what the file holds.
    RecordEdit edit;
    for (const Field field : kFields) {
        if (valueBox(field)->text() != shownTexts[field])
            edit[field] = FieldEdit{valueBox(field)->text().toStdString(), std::nullopt};
    }

    // A value another program changed under typing that was kept while the list was read again: the
    // grid now holds the other program's value, so the save alone would not see that both changed it.
    for (const Field field : kFields) {
        if (!typedOver[field] || !edit[field])
            continue;
        const Keep keep = askWhichToKeep(this, {field, edit[field]->value, shownTexts[field].toStdString()});
        if (keep == Keep::Neither)
            return;
        if (keep == Keep::Other)
            edit[field].reset();
    }

    for (;;) {
        const Result<EditPlan> saved = saveRecordEdit(dataFilePath(kDataFileWritePath), recordGrid, shown, edit);
        if (!saved) {
            reportFileFailure(this, QStringLiteral("Tesselby could not save the changes to"), saved.error().path,
                              saved.error().reason(), MessageStyle::Critical,
                              QStringLiteral("The file is as it was. Your changes are still here; press \"EDIT\" "
                                             "to try again."));
            return;
        }
        const EditPlan& plan = saved.value();
        if (plan.kind == EditPlan::Kind::PersonNotFound) {
            if (messageBox(this, kPersonNotFound, MessageStyle::Question))
                reloadList(shown);
            return;
        }
        if (plan.kind == EditPlan::Kind::Write) {
            showSavedList(plan.at);
            if (const std::optional<FileError>& doubt = saved.unconfirmed())
                (void)messageBox(
                    this,
                    kSavedUnconfirmed.arg(QString::fromStdString(pathText(dataFilePath(kDataFileWritePath))),
                                          QString::fromStdString(doubt->path), QString::fromStdString(doubt->reason())),
                    MessageStyle::Information);
            return;
        }
        // The file is unchanged until the person has chosen for every field both changed.
        for (const EditConflict& conflict : plan.conflicts) {
            const Keep keep = askWhichToKeep(this, conflict);
            if (keep == Keep::Neither)
                return;
            if (keep == Keep::Mine)
                edit[conflict.field]->replaces = conflict.theirs;
            else
                edit[conflict.field].reset();
        }
    }
}

void Form2::showSavedList(std::size_t at)
{
    // The saved file may hold records other programs added, removed or moved; the person edited may
    // now stand at another number, and the boxes show what was saved.
    // Written by the save, not read: the next showing reads the file again rather than trust a stamp
    // taken after another program may have written to it.
    readStamp.reset();
    HScroll1->setMaximum(static_cast<int>(std::min<std::size_t>(recordGrid.recordCount(), INT_MAX)));
    const QSignalBlocker quiet(HScroll1);
    HScroll1->setValue(static_cast<int>(at));
    showRecord(at);
}

} // namespace tesselby
