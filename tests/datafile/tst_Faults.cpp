#include <QtTest>
#include <csignal>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
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
            return failed && failed->reason == std::strerror(EFBIG) ? 0 : 1;
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
            return saveRecordGrid(dataFile(), grid.value()) ? 0 : 1;
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

        std::mt19937 random(7);
        std::set<int> outcomes;
        for (int round = 0; round < 40; ++round) {
            const pid_t child = ::fork();
            if (child == 0) {
                // Saves forever, switching record 1's first name between the two versions.
                for (bool toSecond = true;; toSecond = !toSecond) {
                    Result<RecordGrid> grid = loadRecordGrid(dataFile());
                    if (!grid)
                        ::_exit(2);
                    Record record = grid.value().record(1);
                    record[0] = toSecond ? "Second, a longer first name" : "First0";
                    grid.value().setRecord(1, record);
                    if (saveRecordGrid(dataFile(), grid.value()))
                        ::_exit(3);
                }
            }
            ::usleep(static_cast<useconds_t>(random() % 60000));
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY2(WIFSIGNALED(status), "the saving process stopped by itself");
            const QByteArray now = folder.read();
            QVERIFY2(now == first || now == second,
                     qPrintable(QStringLiteral("round %1: %2 bytes").arg(round).arg(now.size())));
            outcomes.insert(now == first ? 1 : 2);
        }
        // Killed at random moments, the saves must have landed both ways at least once.
        QCOMPARE(outcomes.size(), std::size_t(2));
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
                    if (appendRecord(dataFile(), {"first " + id, "last " + id, "phone " + id, "mail " + id}))
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
