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
    while (const Status failed = appendRecord(path, record)) {
        const QString text =
            fileFailureText(QStringLiteral("Tesselby could not add the entry to"), QString::fromStdString(failed->path),
                            QString::fromStdString(failed->reason));
        if (!messageBox(this, text + QStringLiteral("\n\nRetry to try again, or Cancel to drop the entry."),
                        MessageStyle::CriticalRetry, QStringLiteral("Tesselby")))
            return;
    }
}

} // namespace tesselby
