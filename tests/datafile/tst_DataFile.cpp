#include <QtTest>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "DataFolder.h"
#include "FileLock.h"
#include "SavedValues.h"

using namespace tesselby;

class DataFileTest : public QObject {
    Q_OBJECT

private slots:
    void bothNamesReachOneFileInTheUsersDataFolder()
    {
        DataFolder folder;
        QCOMPARE(QString::fromStdString(dataFilePath(kDataFileReadPath).string()), folder.filePath());
        QCOMPARE(dataFilePath(kDataFileWritePath), dataFilePath(kDataFileReadPath));
    }

    void relativeDataHomeFallsBackToHome()
    {
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("XDG_DATA_HOME", "relative/path");
        qputenv("HOME", "/home/someone");
        QCOMPARE(dataFilePath(kDataFileReadPath),
                 std::filesystem::path("/home/someone/.local/share/tesselby/tesselby.txt"));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(dataFilePath(kDataFileReadPath),
                 std::filesystem::path("/home/someone/.local/share/tesselby/tesselby.txt"));
        qputenv("HOME", oldHome);
    }

    void missingFileReadsAsEmptyList()
    {
        DataFolder folder;
        const Result<std::string> text = readDataFile(dataFile());
        QVERIFY(text.ok());
        QVERIFY(text.value().empty());
        QVERIFY(!folder.exists());
    }

    void folderInPlaceOfFileIsReported()
    {
        DataFolder folder;
        folder.putFolderInPlace();
        const Result<std::string> text = readDataFile(dataFile());
        QVERIFY(!text.ok());
        QCOMPARE(QString::fromStdString(text.error().path), folder.filePath());
        QCOMPARE(text.error().reason, std::string("there is a folder in its place"));
        QVERIFY(!appendRecord(dataFile(), {"a", "b", "c", "d"}).ok());
        RecordGrid nothing;
        QVERIFY(!saveValues(nothing, 1, {}).ok());
        QVERIFY(QFileInfo(folder.filePath()).isDir());
    }

    void appendsCreateAnOwnerOnlyFileOfItemLines()
    {
        DataFolder folder;
        QVERIFY(appendRecord(dataFile(), {"Ann", "Lee, Jr.", "555", "ann@x"}).ok());
        QCOMPARE(folder.read(), itemLines({"Ann", "Lee, Jr.", "555", "ann@x"}));
        QVERIFY(appendRecord(dataFile(), {"", "", "", ""}).ok());
        QCOMPARE(folder.read(), itemLines({"Ann", "Lee, Jr.", "555", "ann@x", "", "", "", ""}));
        struct stat info {};
        QCOMPARE(::stat(folder.filePath().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QCOMPARE(::stat(folder.folderPath().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
    }

    void addStandsAsAWholeRecordOfItsOwn_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("no final line end") << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"");
        QTest::newRow("an incomplete last record")
            << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n\"e\"\r\n\"f\"\r\n\"g\"\r\n");
        QTest::newRow("a torn add: half an item") << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n\"Ann\"\r\n\"Le");
        QTest::newRow("an open quote over lines") << QByteArray("\"a\"\r\n\"b \"\"x\"\"\r\n more\r\n");
        QTest::newRow("a trailing comma") << QByteArray("a,b,c,");
        QTest::newRow("only a byte-order mark") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("blank lines after the last item") << QByteArray("\"a\"\r\n\r\n  \n\t");
        QTest::newRow("an empty file") << QByteArray();
    }

    void addStandsAsAWholeRecordOfItsOwn()
    {
        QFETCH(QByteArray, before);
        DataFolder folder;
        folder.write(before);
        const Result<RecordGrid> earlier = loadRecordGrid(dataFile());
        QVERIFY(earlier.ok());
        const Record added{"New", "Person, Jr.", "555 \"0100\"", "new@example.org"};
        QVERIFY(appendRecord(dataFile(), added).ok());
        QVERIFY(folder.read().startsWith(before));

        const Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(grid.ok());
        QCOMPARE(grid.value().recordCount(), earlier.value().recordCount() + 1);
        for (std::size_t r = 1; r <= earlier.value().recordCount(); ++r)
            QCOMPARE(grid.value().record(r), earlier.value().record(r));
        QCOMPARE(grid.value().record(grid.value().recordCount()), added);
    }

    void saveReplacesOnlyTheEditedRecord()
    {
        DataFolder folder;
        const QByteArray before = itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
        folder.write(before);
        Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(saveValues(grid.value(), 1, grid.value().record(1)).ok());
        QCOMPARE(folder.read(), before);

        QVERIFY(saveValues(grid.value(), 2, {"Bee", "", "two \"2\"", "b@"}).ok());
        QCOMPARE(folder.read(), itemLines({"A", "a", "1", "a@", "Bee", "", "two \"2\"", "b@", "C", "c", "3", "c@"}));
        QCOMPARE(QByteArray(grid.value().text().data(), static_cast<qsizetype>(grid.value().text().size())),
                 folder.read());
        QCOMPARE(grid.value().record(2), (Record{"Bee", "", "two \"2\"", "b@"}));
        QCOMPARE(grid.value().record(3), (Record{"C", "c", "3", "c@"}));
    }

    void saveKeepsPermissionsAndLeavesNoTemporaryFiles()
    {
        DataFolder folder;
        folder.write(itemLines({"A", "a", "1", "a@"}));
        QVERIFY(QFile::setPermissions(folder.filePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        // What a save killed midway leaves behind goes with the next save; the user's own files stay.
        const QDir dir(folder.folderPath());
        for (const char* name : {"tesselby.txt.saving-a1B2c3", "tesselby.txt.saving-17-99-0", "tesselby.txt.bak",
                                 "notes.txt.saving-a1B2c3"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(saveValues(grid.value(), 1, {"Z", "z", "9", "z@"}).ok());
        struct stat info {};
        QCOMPARE(::stat(folder.filePath().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0640));
        QCOMPARE(dir.entryList(QDir::Files),
                 (QStringList{"notes.txt.saving-a1B2c3", "tesselby.txt", "tesselby.txt.bak", "tesselby.txt.lock"}));
    }

    void saveKeepsRecordsAppendedSinceLoad()
    {
        DataFolder folder;
        folder.write(itemLines({"A", "a", "1", "a@"}));
        Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(appendRecord(dataFile(), {"B", "b", "2", "b@"}).ok());
        QVERIFY(saveValues(grid.value(), 1, {"A2", "a", "1", "a@"}).ok());
        QCOMPARE(folder.read(), itemLines({"A2", "a", "1", "a@", "B", "b", "2", "b@"}));
        QCOMPARE(grid.value().recordCount(), std::size_t(2));
        // The save first made for the file as loaded is thrown away once the change is seen.
        QCOMPARE(QDir(folder.folderPath()).entryList(QDir::Files), (QStringList{"tesselby.txt", "tesselby.txt.lock"}));
    }

    void saveOfAPersonTheFileLostWritesNothing()
    {
        DataFolder folder;
        folder.write(itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@"}));
        Result<RecordGrid> grid = loadRecordGrid(dataFile());
        QVERIFY(QFile::remove(folder.filePath()));
        const Result<EditPlan> saved = saveRecordEdit(dataFile(), grid.value(), 2, {FieldEdit{"B2", std::nullopt}});
        QVERIFY(saved.ok());
        QVERIFY(saved.value().kind == EditPlan::Kind::PersonNotFound);
        QVERIFY(!QFile::exists(folder.filePath()));
        QCOMPARE(grid.value().record(2), (Record{"B", "b", "2", "b@"})); // still what the person saw
    }

    void heldLockMakesWritersWaitThenFail_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("lock file left alone") << "";
        QTest::newRow("lock file deleted by a cleanup tool") << "delete";
        QTest::newRow("lock file replaced") << "replace";
    }

    void heldLockMakesWritersWaitThenFail()
    {
        QFETCH(QString, meanwhile);
        DataFolder folder;
        QVERIFY(appendRecord(dataFile(), {"A", "a", "1", "a@"}).ok());
        Result<FileLock> held = FileLock::acquire(dataFile());
        QVERIFY(held.ok());
        const QString lockFile = folder.filePath() + ".lock";
        if (!meanwhile.isEmpty())
            QVERIFY(QFile::remove(lockFile));
        if (meanwhile == "replace")
            QVERIFY(QFile(lockFile).open(QIODevice::WriteOnly));
        // A second holder, as another running copy would be, is refused while the first holds it.
        QCOMPARE(inChild([] { return FileLock::acquire(dataFile(), std::chrono::milliseconds(100)).ok() ? 1 : 0; }), 0);
    }

    void lockOfADeadProcessIsTakenOver()
    {
        DataFolder folder;
        // Nor does a child started just after an add hold the lock the add gave up.
        QVERIFY(appendRecord(dataFile(), {"A", "a", "1", "a@"}).ok());
        QVERIFY(appendRecord(dataFile(), {"B", "b", "2", "b@"}).ok());
        QCOMPARE(inChild([] { return FileLock::acquire(dataFile(), std::chrono::milliseconds(100)).ok() ? 0 : 1; }), 0);
        QCOMPARE(inChild([] {
                     Result<FileLock> lock = FileLock::acquire(dataFile());
                     ::_exit(lock.ok() ? 0 : 1); // dies holding it
                     return 1;
                 }),
                 0);
        QVERIFY(QFile::exists(folder.filePath() + ".lock"));
        QVERIFY(FileLock::acquire(dataFile(), std::chrono::milliseconds(0)).ok());
    }
};

QTEST_GUILESS_MAIN(DataFileTest)
#include "tst_DataFile.moc"
