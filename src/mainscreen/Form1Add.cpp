#include "DataFile.h"
#include "Dialogs.h"
#include "Form1.h"
#include "disk/DataFilePath.h"

namespace tesselby {

namespace {

const PerField<QString> kPrompts = {
    QStringLiteral("What is your First Name?"), QStringLiteral("What is your Last Name?"),
    QStringLiteral("What is your Phone Number?"), QStringLiteral("What is your E-Mail?")};

// An add that is in the list, though a step after it could not be confirmed: never offered again, since
// a second try would add the person twice.
const QString kAddedUnconfirmed = QStringLiteral("Tesselby added the entry, but could not confirm it in");
const QString kAddedUnconfirmedAdvice =
    QStringLiteral("The entry is in the list: do not add it again. If the disk or network share has a problem, "
                   "check the list once it is solved.");

} // namespace

void Form1::Command2_Click()
{
    for (const Field field : kFields)
        newEntry[field] = inputBox(this, kPrompts[field]);

    Record record;
    for (const Field field : kFields)
        record[field] = newEntry[field].toStdString();

    // The answers are kept while the person decides, so a failed write loses none of them.
    const std::filesystem::path path = dataFilePath(kDataFileWritePath);
    Status added = appendRecord(path, record);
    for (; !added; added = appendRecord(path, record)) {
        if (!reportFileFailure(this, QStringLiteral("Tesselby could not add the entry to"), added.error().path,
                               added.error().reason(), MessageStyle::CriticalRetry,
                               QStringLiteral("Retry to try again, or Cancel to drop the entry.")))
            return;
    }
    if (const std::optional<FileError>& doubt = added.unconfirmed())
        (void)reportFileFailure(this, kAddedUnconfirmed, doubt->path, doubt->reason(), MessageStyle::Information,
                                kAddedUnconfirmedAdvice);
}

} // namespace tesselby
