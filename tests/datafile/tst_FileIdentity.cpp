// The data file itself through every write: its links, owner, permissions and attributes, its write
// protection, what may stand in its place, and what must reach the disk.
#include <QtTest>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "DataFolder.h"
#include "FileError.h"
#include "SavedValues.h"

using namespace tesselby;

namespace {

// Every path the code under test syncs, in order, while recording; the test's own definition of the
// call stands in front of the C library's and passes each call on.
bool recordingSyncs = false;
std::vector<std::string> syncedPaths;

} // namespace

extern "C" int fsync(int fd)
{
    if (recordingSyncs) {
        char path[4096];
        const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
        if (length > 0)
            syncedPaths.emplace_back(path, static_cast<std::size_t>(length));
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

enum class Arrangement {
    RelativeLink,
    ChainOfLinks,
    HardLink,
    AccessList,
    Attribute,
    UsersFileAsRoot,
    ForeignGroup,
    MountedInPlace
};

struct FileState {
    uid_t owner;
    gid_t group;
    mode_t mode;
    ino_t inode;
    std::map<std::string, std::string> attributes;
};

FileState stateOf(const QString& path)
{
    struct stat info {};
    const QByteArray name = path.toLocal8Bit();
    if (::stat(name.constData(), &info) != 0)
        return {};
    FileState state{info.st_uid, info.st_gid, info.st_mode, info.st_ino, {}};
    char names[4096];
    const ssize_t length = ::listxattr(name.constData(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += ssize_t(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t size = ::getxattr(name.constData(), names + at, value, sizeof value);
        state.attributes[names + at] = std::string(value, size > 0 ? std::size_t(size) : 0);
    }
    return state;
}

QString linkText(const QString& path)
{
    return QFileInfo(path).isSymLink() ? QFile::symLinkTarget(path) : QString();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// An access list that grants the other user read and write beside the owner: owner rw, that user rw,
// group r, mask rw, others none, in the system's own binary form.
std::string accessListGrantingOtherUser()
{
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, ~0u}, {0x02, 6, kOtherUser}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}};
    std::string value("\x02\0\0\0", 4);
    value.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return value;
}

QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList({"*.saving-*", "*.before-save"}, QDir::Files | QDir::Hidden);
}

} // namespace

class FileIdentityTest : public QObject {
    Q_OBJECT

private slots:
    void writesKeepTheFilesLinksAndIdentity_data()
    {
        QTest::addColumn<Arrangement>("arrangement");
        QTest::addColumn<bool>("keepsInode");
        QTest::newRow("a relative symbolic link") << Arrangement::RelativeLink << false;
        QTest::newRow("a chain of links") << Arrangement::ChainOfLinks << false;
        QTest::newRow("a second hard link") << Arrangement::HardLink << true;
        QTest::newRow("an access list") << Arrangement::AccessList << false;
        QTest::newRow("an extended attribute") << Arrangement::Attribute << false;
        QTest::newRow("a user's file, saved by root") << Arrangement::UsersFileAsRoot << false;
        QTest::newRow("a group its owner is not in") << Arrangement::ForeignGroup << true;
        QTest::newRow("a file mounted in its place") << Arrangement::MountedInPlace << true;
    }

    void writesKeepTheFilesLinksAndIdentity()
    {
        QFETCH(Arrangement, arrangement);
        QFETCH(bool, keepsInode);
        DataFolder folder;
        const QString top = QFileInfo(folder.folderPath()).path();
        const QByteArray before = itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@"});
        QString target = folder.filePath();
        QStringList names{folder.filePath()}; // every name that must see the new content
        bool asOtherUser = false;
        QDir().mkpath(folder.folderPath());
        QDir().mkpath(top + "/elsewhere");
        const auto needRoot = [] {
            if (::geteuid() != 0)
                QSKIP("setting another owner needs root");
        };
        switch (arrangement) {
        case Arrangement::RelativeLink:
            target = top + "/elsewhere/list.txt";
            QVERIFY(QFile::link("../elsewhere/list.txt", folder.filePath()));
            break;
        case Arrangement::ChainOfLinks:
            target = top + "/elsewhere/list.txt";
            QVERIFY(QFile::link(top + "/hop", folder.filePath()));
            QVERIFY(QFile::link("elsewhere/list.txt", top + "/hop"));
            names << top + "/hop";
            break;
        case Arrangement::HardLink:
            names << top + "/elsewhere/second-name.txt";
            break;
        case Arrangement::MountedInPlace:
            needRoot();
            // The child mounts the file over the data file's name, which cannot then be renamed over.
            target = top + "/elsewhere/list.txt";
            names = QStringList{target};
            folder.write("placeholder");
            break;
        default:
            break;
        }
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        const QByteArray targetName = target.toLocal8Bit();
        switch (arrangement) {
        case Arrangement::HardLink:
            QCOMPARE(::link(targetName.constData(), names.last().toLocal8Bit().constData()), 0);
            break;
        case Arrangement::AccessList: {
            const std::string list = accessListGrantingOtherUser();
            QCOMPARE(::setxattr(targetName.constData(), "system.posix_acl_access", list.data(), list.size(), 0), 0);
            break;
        }
        case Arrangement::Attribute:
            QCOMPARE(::setxattr(targetName.constData(), "user.origin", "phone", 5, 0), 0);
            break;
        case Arrangement::UsersFileAsRoot:
            needRoot();
            QCOMPARE(::chown(targetName.constData(), kOtherUser, kOtherUser), 0);
            QCOMPARE(::chmod(targetName.constData(), 0640), 0);
            break;
        case Arrangement::ForeignGroup:
            needRoot();
            // The user owns the folders and the file, but the file's group is one the user is not in.
            QCOMPARE(QProcess::execute("chown", {"-R", QString::number(kOtherUser), top}), 0);
            QCOMPARE(::chown(targetName.constData(), kOtherUser, 0), 0);
            QCOMPARE(::chmod(targetName.constData(), 0660), 0);
            asOtherUser = true;
            break;
        default:
            break;
        }
        QMap<QString, QString> linksBefore;
        for (const QString& name : names)
            linksBefore[name] = linkText(name);
        const FileState stateBefore = stateOf(target);

        const int code = inChild([&] {
            if (asOtherUser && !becomeOtherUser())
                return 10;
            if (arrangement == Arrangement::MountedInPlace &&
                (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount(targetName.constData(), folder.filePath().toLocal8Bit().constData(), nullptr, MS_BIND,
                         nullptr) != 0))
                return 11;
            if (!appendRecord(dataFile(), {"C", "c", "3", "c@"}).ok())
                return 1;
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            if (!grid)
                return 2;
            return saveValues(grid.value(), 1, {"Edited", "a", "1", "a@"}).ok() ? 0 : 3;
        });
        QCOMPARE(code, 0);

        const QByteArray expected = itemLines({"Edited", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
        for (const QString& name : names) {
            QCOMPARE(linkText(name), linksBefore[name]);
            QCOMPARE(readAll(name), expected);
        }
        const FileState stateAfter = stateOf(target);
        QCOMPARE(stateAfter.owner, stateBefore.owner);
        QCOMPARE(stateAfter.group, stateBefore.group);
        QCOMPARE(stateAfter.mode, stateBefore.mode);
        QCOMPARE(stateAfter.attributes, stateBefore.attributes);
        if (keepsInode)
            QCOMPARE(stateAfter.inode, stateBefore.inode);
        QCOMPARE(leftovers(QFileInfo(target).path()), QStringList());
        const QString lockedName = arrangement == Arrangement::MountedInPlace ? folder.filePath() : target;
        QVERIFY2(QFile::exists(lockedName + ".lock"), "the lock sits beside the file itself");
    }

    void aLinkToNothingGetsItsTargetMade()
    {
        DataFolder folder;
        const QString target = QFileInfo(folder.folderPath()).path() + "/synced/list.txt";
        QDir().mkpath(folder.folderPath());
        QVERIFY(QFile::link(target, folder.filePath()));
        QVERIFY(appendRecord(dataFile(), {"A", "a", "1", "a@"}).ok());
        QCOMPARE(readAll(target), itemLines({"A", "a", "1", "a@"}));
        QCOMPARE(linkText(folder.filePath()), target);
    }

    void writeProtectedFileIsRefusedAndLeftAsItWas_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addColumn<int>("mode");
        QTest::newRow("read-only to its owner") << false << 0400;
        QTest::newRow("no write permission at all, as root") << true << 0444;
    }

    void writeProtectedFileIsRefusedAndLeftAsItWas()
    {
        QFETCH(bool, asRoot);
        QFETCH(int, mode);
        if (asRoot && ::geteuid() != 0)
            QSKIP("needs root");
        DataFolder folder;
        const QByteArray before = itemLines({"A", "a", "1", "a@"});
        folder.write(before);
        const QByteArray name = folder.filePath().toLocal8Bit();
        const bool asOtherUser = !asRoot && ::geteuid() == 0;
        if (asOtherUser)
            QCOMPARE(QProcess::execute("chown", {"-R", QStringLiteral("%1:%1").arg(kOtherUser),
                                                 QFileInfo(folder.folderPath()).path()}),
                     0);
        QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
        const FileState stateBefore = stateOf(folder.filePath());

        const int code = inChild([&] {
            if (asOtherUser && !becomeOtherUser())
                return 10;
            const Status added = appendRecord(dataFile(), {"B", "b", "2", "b@"});
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            if (!grid)
                return 2;
            const Status saved = saveValues(grid.value(), 1, {"Edited", "a", "1", "a@"});
            const std::string refusal = std::strerror(EACCES);
            if (added.ok() || added.error().reason != refusal)
                return 3;
            return !saved.ok() && saved.error().reason == refusal ? 0 : 4;
        });
        QCOMPARE(code, 0);
        QCOMPARE(folder.read(), before);
        const FileState stateAfter = stateOf(folder.filePath());
        QCOMPARE(stateAfter.inode, stateBefore.inode);
        QCOMPARE(stateAfter.mode, stateBefore.mode);
        QCOMPARE(leftovers(folder.folderPath()), QStringList());
    }

    void firstAddMakesOwnerOnlyFoldersThatReachTheDisk_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 000") << 0000;
        QTest::newRow("umask 022") << 0022;
        QTest::newRow("umask 277") << 0277;
    }

    void firstAddMakesOwnerOnlyFoldersThatReachTheDisk()
    {
        QFETCH(int, mask);
        DataFolder folder;
        const QString home = QFileInfo(folder.folderPath()).path();
        const QString dataHome = home + "/deep/share";
        qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
        const mode_t oldMask = ::umask(mode_t(mask));
        syncedPaths.clear();
        recordingSyncs = true;
        const Status added = appendRecord(dataFile(), {"A", "a", "1", "a@"});
        recordingSyncs = false;
        ::umask(oldMask);
        QVERIFY(added.ok());

        const QString file = dataHome + "/tesselby/tesselby.txt";
        for (const QString& made : {home + "/deep", dataHome, dataHome + "/tesselby"})
            QCOMPARE(QFileInfo(made).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(QFileInfo(file).permissions() & 0x7777,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        // Each new entry is on the disk once its folder is synced after it was made.
        for (const QString& entryFolder : {home, home + "/deep", dataHome, dataHome + "/tesselby"})
            QVERIFY2(std::find(syncedPaths.begin(), syncedPaths.end(), entryFolder.toStdString()) != syncedPaths.end(),
                     qPrintable(entryFolder));
        QVERIFY(std::find(syncedPaths.begin(), syncedPaths.end(), file.toStdString()) != syncedPaths.end());
    }

    void readingASpecialFileNeverWaits_data()
    {
        QTest::addColumn<QString>("special");
        QTest::newRow("a pipe") << "pipe";
        QTest::newRow("a device") << "/dev/zero";
        QTest::newRow("the kernel's log, which waits for news") << "/proc/kmsg";
    }

    void readingASpecialFileNeverWaits()
    {
        QFETCH(QString, special);
        DataFolder folder;
        QDir().mkpath(folder.folderPath());
        QString target = special;
        if (special == "pipe") {
            target = folder.folderPath() + "/pipe";
            QCOMPARE(::mkfifo(target.toLocal8Bit().constData(), 0600), 0);
        } else if (::access(target.toLocal8Bit().constData(), R_OK) != 0) {
            QSKIP("this user may not read it");
        }
        QVERIFY(QFile::link(target, folder.filePath()));
        const int code = inChild([] {
            ::alarm(10); // a read that waits ends the child, and the test with it
            const Result<std::string> text = readDataFile(dataFile());
            return !text.ok() && text.error().reason == kNotAnOrdinaryFile ? 0 : 1;
        });
        QCOMPARE(code, 0);
    }

    void oneCauseReadsTheSameOnEveryPath_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a file where its folder belongs") << false << QString(kFileInPlaceOfFolder);
        QTest::newRow("a full disk where its folder is made") << true << QString(std::strerror(ENOSPC));
    }

    void oneCauseReadsTheSameOnEveryPath()
    {
        QFETCH(bool, fullDisk);
        QFETCH(QString, reason);
        DataFolder folder;
        const std::string expected = reason.toStdString();
        if (!fullDisk) {
            QFile file(folder.folderPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            const Result<std::string> searched = readDataFile(dataFile());
            QVERIFY(!searched.ok());
            QCOMPARE(searched.error().reason, expected);
        }
        const QString mountPoint = QFileInfo(folder.folderPath()).path();
        const int code = inChild([&] {
            // A small file system of the child's own, full to its last file entry, gone with the child.
            if (fullDisk &&
                (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64k,nr_inodes=1") != 0))
                return 10;
            const Status added = appendRecord(dataFile(), {"A", "a", "1", "a@"});
            RecordGrid nothing;
            const Status saved = saveValues(nothing, 1, {});
            if (added.ok() || added.error().reason != expected)
                return 1;
            return !saved.ok() && saved.error().reason == expected ? 0 : 2;
        });
        if (code == 10)
            QSKIP("mounting a small file system needs root");
        QCOMPARE(code, 0);
    }
};

QTEST_GUILESS_MAIN(FileIdentityTest)
#include "tst_FileIdentity.moc"
