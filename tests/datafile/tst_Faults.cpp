#include <QtTest>
#include <chrono>
#include <csignal>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "ChildProcess.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "DataFolder.h"
#include "SavedValues.h"

using namespace tesselby;

namespace {

QByteArray peopleFile(int people, const QString& tag)
{
    QStringList items;
    for (int i = 0; i < people; ++i)
        items << tag + QString::number(i) << QStringLiteral("Lee, Jr.") << QStringLiteral("555-%1").arg(i)
              << QStringLiteral("p%1@example.org").arg(i);
    return itemLines(items);
}

// The same list with record 1's first name changed: what each save of keepSwitchingFirstName makes of
// the other.
QByteArray withSecondName(const QByteArray& first)
{
    QByteArray second = first;
    second.replace(0, first.indexOf('\n') + 1, itemLines({"Second, a longer first name"}));
    return second;
}

// In a child: saves record 1's first name as the other version, again and again, writing a byte to
// report after each save when report is a descriptor.
[[noreturn]] void keepSwitchingFirstName(int report)
{
    for (;;) {
        Result<RecordGrid> grid = loadRecordGrid(dataFile());
        if (!grid)
            ::_exit(2);
        Record record = grid.value().record(1);
        record[0] = record[0] == "First0" ? "Second, a longer first name" : "First0";
        if (!saveValues(grid.value(), 1, record).ok())
            ::_exit(3);
        if (report >= 0 && ::write(report, "s", 1) != 1)
            ::_exit(4);
    }
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void fullDiskFailsAnAddAndLeavesTheFile()
    {
        DataFolder folder;
        const QByteArray before = peopleFile(3, "P");
        folder.write(before);
        const int code = inChild([&] {
            fillDiskAfter(before.size() + 10);
            const Status failed = appendRecord(dataFile(), {"A long first name", "Last", "555", "a@b"});
            return !failed.ok() && failed.error().reason == std::strerror(EFBIG) ? 0 : 1;
        });
        QCOMPARE(code, 0);
        QCOMPARE(folder.read(), before);
    }

    void fullDiskFailsASaveAndLeavesTheFile()
    {
        DataFolder folder;
        const QByteArray before = peopleFile(50, "P");
        folder.write(before);
        const int code = inChild([&] {
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            fillDiskAfter(before.size() / 2);
            return saveValues(grid.value(), 25, {"Edited", "", "", ""}).ok() ? 1 : 0;
        });
        QCOMPARE(code, 0);
        QCOMPARE(folder.read(), before);
        QCOMPARE(QDir(folder.folderPath()).entryList(QDir::Files), (QStringList{"tesselby.txt", "tesselby.txt.lock"}));
    }

    void listLargerThanMemoryIsRefusedWithAMessage()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more memory than the limit this test sets");
#else
        DataFolder folder;
        folder.write(peopleFile(2, "P"));
        // Far larger than the memory the child may take; sparse, so it costs no disk.
        QVERIFY(QFile::resize(folder.filePath(), qint64(2) << 30));
        const int code = inChild([] {
            rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
            ::setrlimit(RLIMIT_AS, &limit);
            const Result<std::string> text = readDataFile(dataFile());
            const Result<RecordGrid> grid = loadRecordGrid(dataFile());
            RecordGrid edited = RecordGrid::fromText(peopleFile(2, "P").toStdString());
            const Status saved = saveValues(edited, 1, {"E", "", "", ""});
            for (const FileError* error : {text.ok() ? nullptr : &text.error(), grid.ok() ? nullptr : &grid.error(),
                                           saved.ok() ? nullptr : &saved.error()}) {
                if (error == nullptr || error->reason != kTooLargeToOpen)
                    return 1;
            }
            return 0;
        });
        QCOMPARE(code, 0);
        QCOMPARE(QFileInfo(folder.filePath()).size(), qint64(2) << 30);
        QFile file(folder.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(peopleFile(2, "P").size()), peopleFile(2, "P")); // untouched
#endif
    }

    void killedSaveLeavesExactlyTheOldOrTheNewFile_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("replaced by a new file") << false;
        QTest::newRow("rewritten in place, beside a second hard link") << true;
    }

    void killedSaveLeavesExactlyTheOldOrTheNewFile()
    {
        QFETCH(bool, inPlace);
        DataFolder folder;
        const QByteArray first = peopleFile(40000, "First"); // a few megabytes, so a save takes a while
        const QByteArray second = withSecondName(first);
        folder.write(first);
        const QString secondName = folder.folderPath() + "/second-name.txt";
        if (inPlace)
            QCOMPARE(::link(folder.filePath().toLocal8Bit().constData(), secondName.toLocal8Bit().constData()), 0);

        // The moment of each kill is random, but within one save's duration of a finished save, so the
        // kills land all over the save however fast or slow this machine (or this build) is.
        std::mt19937 random(7);
        std::chrono::steady_clock::duration saveTime{};
        int killsDuringAWrite = 0;
        for (int round = 0; round < 40; ++round) {
            const QByteArray before = QByteArray::fromStdString(readDataFile(dataFile()).value());
            int progress[2];
            QVERIFY(::pipe(progress) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(progress[0]);
                keepSwitchingFirstName(progress[1]);
            }
            ::close(progress[1]);
            char done = 0;
            int saves = 0;
            QCOMPARE(::read(progress[0], &done, 1), ssize_t(1));
            ++saves;
            if (round == 0) {
                const auto start = std::chrono::steady_clock::now();
                for (; saves < 4; ++saves)
                    QCOMPARE(::read(progress[0], &done, 1), ssize_t(1));
                saveTime = (std::chrono::steady_clock::now() - start) / 3;
            }
            std::this_thread::sleep_for(saveTime * (random() % 1000) / 1000);
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY2(WIFSIGNALED(status), "the saving process stopped by itself");
            for (ssize_t got; (got = ::read(progress[0], &done, 1)) > 0;)
                saves += int(got);
            ::close(progress[0]);

            // A save killed between its rename and its report has landed without being counted.
            const QByteArray& other = before == first ? second : first;
            const QByteArray& afterCounted = saves % 2 ? other : before;
            const QByteArray& afterOneMore = saves % 2 ? before : other;
            // What the kill left is put right by the next read, before anyone sees the file.
            if (!QDir(folder.folderPath()).entryList({"*.saving-*", "*.before-save"}, QDir::Files).isEmpty())
                ++killsDuringAWrite;
            const Result<std::string> read = readDataFile(dataFile());
            QVERIFY(read.ok());
            const QByteArray now = QByteArray::fromStdString(read.value());
            QCOMPARE(folder.read(), now);
            if (inPlace) {
                QFile other(secondName);
                QVERIFY(other.open(QIODevice::ReadOnly));
                QCOMPARE(other.readAll(), now);
            }
            QVERIFY2(
                now == afterCounted || now == afterOneMore,
                qPrintable(QStringLiteral("round %1: %2 bytes after %3 saves").arg(round).arg(now.size()).arg(saves)));
        }
        qInfo("%d of 40 kills landed while the new content was being written", killsDuringAWrite);
    }

    void cutOffRewriteIsPutBackBeforeAnythingElse_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<bool>("guardIsAFolder");
        QTest::newRow("a search") << "read" << false;
        QTest::newRow("start-up") << "start" << false;
        QTest::newRow("an add") << "add" << false;
        QTest::newRow("an edit") << "save" << false;
        QTest::newRow("a folder of the guard's name is not the program's") << "read" << true;
    }

    void cutOffRewriteIsPutBackBeforeAnythingElse()
    {
        QFETCH(QString, next);
        QFETCH(bool, guardIsAFolder);
        DataFolder folder;
        const QByteArray old = peopleFile(3, "Old");
        // What a rewrite in place killed halfway leaves: its guard copy, and the new text over part of
        // the old.
        folder.write(old);
        const QString guard = folder.filePath() + ".before-save";
        if (guardIsAFolder) {
            QVERIFY(QDir().mkpath(guard));
            const Result<std::string> text = readDataFile(dataFile());
            QVERIFY(text.ok());
            QCOMPARE(QByteArray::fromStdString(text.value()), old);
            QVERIFY(QFileInfo(guard).isDir());
            return;
        }
        QVERIFY(QFile::copy(folder.filePath(), guard));
        folder.write(itemLines({"New, and longer than the old first name"}) + old.mid(old.size() / 2));

        QByteArray expected = old;
        if (next == "read") {
            const Result<std::string> text = readDataFile(dataFile());
            QVERIFY(text.ok());
            QCOMPARE(QByteArray::fromStdString(text.value()), old);
        } else if (next == "start") {
            QVERIFY(restoreAfterInterruptedSave(dataFile()).ok());
        } else if (next == "add") {
            QVERIFY(appendRecord(dataFile(), {"Added", "", "", ""}).ok());
            expected += itemLines({"Added", "", "", ""});
        } else {
            RecordGrid grid = RecordGrid::fromText(old.toStdString());
            QVERIFY(saveValues(grid, 2, {"Edited", "", "", ""}).ok());
            expected = QByteArray(grid.text().data(), static_cast<qsizetype>(grid.text().size()));
            QVERIFY(expected.contains("Edited") && expected.contains("Old0") && expected.contains("Old2"));
        }
        QCOMPARE(folder.read(), expected);
        QVERIFY(!QFile::exists(folder.filePath() + ".before-save"));
    }

    void killedAddsLeaveEveryConfirmedRecordWhole()
    {
        DataFolder folder;
        const auto person = [](int id) {
            const std::string tag = std::to_string(id) + " ";
            return Record{tag + std::string(20000, 'f'), tag + std::string(20000, 'l'), tag,
                          tag + std::string(20000, 'm')};
        };
        // Each round's child adds people until it is killed at a random moment within one add's time
        // after an add it reported, so the kills land anywhere in an add on any machine.
        std::mt19937 random(11);
        std::vector<int> confirmed;
        int tornTails = 0;
        for (int round = 0; round < 200; ++round) {
            int progress[2];
            QVERIFY(::pipe(progress) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(progress[0]);
                for (int id = round * 1000;; ++id) {
                    if (!appendRecord(dataFile(), person(id)).ok())
                        ::_exit(2);
                    if (::write(progress[1], &id, sizeof id) != sizeof id)
                        ::_exit(3);
                }
            }
            ::close(progress[1]);
            int id = 0;
            QCOMPARE(::read(progress[0], &id, sizeof id), ssize_t(sizeof id));
            confirmed.push_back(id);
            const auto start = std::chrono::steady_clock::now();
            QCOMPARE(::read(progress[0], &id, sizeof id), ssize_t(sizeof id));
            confirmed.push_back(id);
            std::this_thread::sleep_for((std::chrono::steady_clock::now() - start) * (random() % 1000) / 1000);
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY2(WIFSIGNALED(status), "the adding process stopped by itself");
            while (::read(progress[0], &id, sizeof id) == ssize_t(sizeof id))
                confirmed.push_back(id);
            ::close(progress[0]);
            const Result<RecordGrid> grid = loadRecordGrid(dataFile());
            if (grid.ok() && grid.value().itemCount() % 4 != 0)
                ++tornTails;
        }
        const Record last{"Last", "person", "", ""};
        QVERIFY(appendRecord(dataFile(), last).ok());

        const Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(grid.ok());
        QCOMPARE(grid.value().record(grid.value().recordCount()), last);
        // In order, each confirmed person stands whole in a record of its own.
        std::size_t r = 1;
        for (const int id : confirmed) {
            const Record expected = person(id);
            while (r < grid.value().recordCount() && grid.value().record(r) != expected)
                ++r;
            QVERIFY2(r < grid.value().recordCount(), qPrintable(QStringLiteral("person %1 is missing").arg(id)));
            ++r;
        }
        qInfo("%zu adds confirmed; %d of 200 kills left a torn record for the next add to complete", confirmed.size(),
              tornTails);
    }

    void readsDuringRewritesInPlaceSeeWholeContent_data()
    {
        QTest::addColumn<bool>("otherFolder");
        QTest::newRow("read through the same name") << false;
        QTest::newRow("read through a hard link in another folder") << true;
    }

    void readsDuringRewritesInPlaceSeeWholeContent()
    {
        QFETCH(bool, otherFolder);
        DataFolder folder;
        const QByteArray first = peopleFile(2000, "First");
        const QByteArray second = withSecondName(first);
        folder.write(first);
        // A second name makes every save rewrite the file in place.
        const QString other =
            otherFolder ? QFileInfo(folder.folderPath()).path() + "/other.txt" : folder.folderPath() + "/other.txt";
        QCOMPARE(::link(folder.filePath().toLocal8Bit().constData(), other.toLocal8Bit().constData()), 0);
        const pid_t child = ::fork();
        if (child == 0)
            keepSwitchingFirstName(-1);
        int mixed = 0;
        for (int read = 0; read < 1000; ++read) {
            const Result<std::string> text = readDataFile(other.toStdString());
            QVERIFY(text.ok());
            const QByteArray now = QByteArray::fromStdString(text.value());
            if (now != first && now != second)
                ++mixed;
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        QCOMPARE(mixed, 0);
    }

    void concurrentAddsKeepEveryRecordWholeAndOnce()
    {
        DataFolder folder;
        constexpr int writers = 4;
        constexpr int recordsEach = 40;
        std::vector<pid_t> children;
        for (int w = 0; w < writers; ++w) {
            const pid_t child = ::fork();
            if (child == 0) {
                for (int n = 0; n < recordsEach; ++n) {
                    const std::string id = std::to_string(w) + "-" + std::to_string(n);
                    if (!appendRecord(dataFile(), {"first " + id, "last " + id, "phone " + id, "mail " + id}).ok())
                        ::_exit(1);
                }
                ::_exit(0);
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        const Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(grid.ok());
        QCOMPARE(grid.value().itemCount(), std::size_t(writers * recordsEach * 4));
        std::set<std::string> seen;
        for (std::size_t r = 1; r <= grid.value().recordCount(); ++r) {
            const Record record = grid.value().record(r);
            const std::string id = record[0].substr(6);
            QCOMPARE(record, (Record{"first " + id, "last " + id, "phone " + id, "mail " + id}));
            QVERIFY(seen.insert(id).second);
        }
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_Faults.moc"
