#include "DataFile.h"
#include "DataFilePath.h"
#include "Dialogs.h"
#include "Form1.h"

namespace tesselby {

namespace {

const QString kPrompts[kFieldCount] = {
    QStringLiteral("What is your First Name?"), QStringLiteral("What is your Last Name?"),
    QStringLiteral("What is your Phone Number?"), QStringLiteral("What is your E-Mail?")};

} // namespace

void Form1::Command2_Click()
{
    for (int slot = 0; slot < kFieldCount; ++slot)
        newEntry[slot] = inputBox(this, kPrompts[slot]);

    Record record;
    for (int slot = 0; slot < kFieldCount; ++slot)
        record[slot] = newEntry[slot].toStdString();

    // The answers are kept while the person decides, so a failed write loses none of them.
    const std::filesystem::path path = dataFilePath(kDataFileWritePath);
    for (Status added = appendRecord(path, record); !added; added = appendRecord(path, record)) {
        if (!reportFileFailure(this, QStringLiteral("Tesselby could not add the entry to"), added.error().path,
                               added.error().reason, MessageStyle::CriticalRetry,
                               QStringLiteral("Retry to try again, or Cancel to drop the entry.")))
            return;
    }
}

} // namespace tesselby
