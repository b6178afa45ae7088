#include <QtTest>
#include <chrono>
#include <csignal>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "DataFile.h"
#include "DataFilePath.h"
#include "DataFolder.h"

using namespace tesselby;

namespace {

std::filesystem::path dataFile()
{
    return dataFilePath(kDataFileWritePath);
}

// Runs body in a child process and returns its exit code (or 128 + signal).
template <typename Body> int inChild(Body body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A disk that is full a few bytes past the current file, as a file-size limit, which holds for root too.
void fillDiskAfter(qint64 bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

QByteArray peopleFile(int people, const QString& tag)
{
    QStringList items;
    for (int i = 0; i < people; ++i)
        items << tag + QString::number(i) << QStringLiteral("Lee, Jr.") << QStringLiteral("555-%1").arg(i)
              << QStringLiteral("p%1@example.org").arg(i);
    return itemLines(items);
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
            grid.value().setRecord(25, {"Edited", "", "", ""});
            fillDiskAfter(before.size() / 2);
            return saveRecordGrid(dataFile(), grid.value()).ok() ? 1 : 0;
        });
        QCOMPARE(code, 0);
        QCOMPARE(folder.read(), before);
        QCOMPARE(QDir(folder.folderPath()).entryList(QDir::Files), (QStringList{"tesselby.txt", "tesselby.txt.lock"}));
    }

    void killedSaveLeavesExactlyTheOldOrTheNewFile()
    {
        DataFolder folder;
        const QByteArray first = peopleFile(40000, "First"); // a few megabytes, so a save takes a while
        QByteArray second = first;
        second.replace(0, first.indexOf('\n') + 1, itemLines({"Second, a longer first name"}));
        folder.write(first);

        // The moment of each kill is random, but within one save's duration of a finished save, so the
        // kills land all over the save however fast or slow this machine (or this build) is.
        std::mt19937 random(7);
        std::chrono::steady_clock::duration saveTime{};
        int killsDuringAWrite = 0;
        for (int round = 0; round < 40; ++round) {
            const QByteArray before = folder.read();
            int progress[2];
            QVERIFY(::pipe(progress) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(progress[0]);
                for (;;) { // each save turns record 1's first name into the other version
                    Result<RecordGrid> grid = loadRecordGrid(dataFile());
                    if (!grid)
                        ::_exit(2);
                    Record record = grid.value().record(1);
                    record[0] = record[0] == "First0" ? "Second, a longer first name" : "First0";
                    grid.value().setRecord(1, record);
                    if (!saveRecordGrid(dataFile(), grid.value()).ok())
                        ::_exit(3);
                    if (::write(progress[1], "s", 1) != 1)
                        ::_exit(4);
                }
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
            const QByteArray now = folder.read();
            QVERIFY2(
                now == afterCounted || now == afterOneMore,
                qPrintable(QStringLiteral("round %1: %2 bytes after %3 saves").arg(round).arg(now.size()).arg(saves)));
            if (QDir(folder.folderPath()).entryList(QDir::Files).size() > 2)
                ++killsDuringAWrite;
        }
        qInfo("%d of 40 kills landed while the new content was being written", killsDuringAWrite);
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
