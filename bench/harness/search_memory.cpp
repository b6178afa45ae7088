// Peak memory of one search: prints the program's resident size when idle, its peak during a search of
// the last-name field, and the data file's size, all in KiB.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>

#include "Application.h"
#include "BenchSetup.h"
#include "Program.h"

namespace {

long statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    const QString path = tesselby::bench::useDataFileOf(argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000);

    tesselby::Program program;
    program.start();
    QCoreApplication::processEvents();
    auto* form = program.mainScreen();
    form->findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
    form->findChild<QPlainTextEdit*>(QStringLiteral("Text1"))
        ->setPlainText(QString::fromUtf8(tesselby::bench::kCommonLastName));

    const long idle = statusKiB("VmRSS:");
    // Resets the peak resident size, so the next reading is the search's own peak.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();
    form->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    const long peak = statusKiB("VmHWM:");
    std::printf("%ld %ld %lld\n", idle, peak, static_cast<long long>(QFileInfo(path).size() / 1024));
    return 0;
}
