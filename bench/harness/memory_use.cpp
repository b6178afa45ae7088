// Memory of one operation on a generated list, in KiB: memory_use search|browse|edit RECORDS
// Prints the program's memory when idle, its peak during the operation, what it holds after, the list
// file's size, and the part of the memory that is private copies (for a search: its matches' bytes). Memory counts what
// is resident plus the private copies kept in the system's memory (shared memory), both above what they were when idle.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <cstdio>
#include <cstring>

#include "Application.h"
#include "BenchSetup.h"
#include "Form2.h"
#include "Program.h"

namespace {

long kibOf(const char* file, const char* field)
{
    QFile status(QString::fromLatin1(file));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

long resident()
{
    return kibOf("/proc/self/status", "VmRSS:");
}
long peakResident()
{
    return kibOf("/proc/self/status", "VmHWM:");
}
long sharedMemory()
{
    return kibOf("/proc/meminfo", "Shmem:");
}

// Starts the next peak reading from what is resident now.
void resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    const char* operation = argc > 1 ? argv[1] : "search";
    const QString path = tesselby::bench::useDataFileOf(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000);

    tesselby::Program program;
    program.start();
    QCoreApplication::processEvents();
    auto* form = program.mainScreen();
    tesselby::Form2 browser;
    if (std::strcmp(operation, "edit") == 0)
        browser.Form_Load();

    const long idle = resident();
    const long idleShared = sharedMemory();
    resetPeak();
    if (std::strcmp(operation, "search") == 0) {
        form->findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
        form->findChild<QPlainTextEdit*>(QStringLiteral("Text1"))
            ->setPlainText(QString::fromUtf8(tesselby::bench::kCommonLastName));
        form->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    } else if (std::strcmp(operation, "browse") == 0) {
        browser.Form_Load();
    } else {
        // A longer last name for the middle person, so everything after it moves.
        auto* bar = browser.findChild<QScrollBar*>(QStringLiteral("HScroll1"));
        bar->setValue(bar->maximum() / 2);
        browser.findChild<QLineEdit*>(QStringLiteral("DataValue(2)"))->setText(QStringLiteral("A much longer name"));
        browser.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    }
    const long shared = sharedMemory() - idleShared;
    std::printf("%ld %ld %ld %lld %ld\n", idle, peakResident() - idle + shared, resident() - idle + shared,
                static_cast<long long>(QFileInfo(path).size() / 1024), shared);
    return 0;
}
