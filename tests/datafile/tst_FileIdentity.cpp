// The data file itself through every write: its links, owner, permissions and attributes, its write
// protection, what may stand in its place, and what must reach the disk. The system calls these cases
// need are POSIX ones; tst_WindowsFiles holds Windows' own.
#ifndef _WIN32
#include "DoctestPrinters.h"
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "DataFile.h"
#include "ForkedChild.h"
#include "SavedValues.h"
#include "TestDataFolder.h"
#include "disk/DataFilePath.h"
#include "disk/FileError.h"
#include "disk/FileLock.h"
#include "disk/FileSystem.h"

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

FileState stateOf(const std::filesystem::path& path)
{
    struct stat info {};
    const char* name = path.c_str();
    if (::stat(name, &info) != 0)
        return {};
    FileState state{info.st_uid, info.st_gid, info.st_mode, info.st_ino, {}};
    char names[4096];
    const ssize_t length = ::listxattr(name, names, sizeof names);
    for (ssize_t at = 0; at < length; at += ssize_t(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t size = ::getxattr(name, names + at, value, sizeof value);
        state.attributes[names + at] = std::string(value, size > 0 ? std::size_t(size) : 0);
    }
    return state;
}

std::filesystem::path linkText(const std::filesystem::path& path)
{
    return std::filesystem::is_symlink(path) ? std::filesystem::read_symlink(path) : std::filesystem::path();
}

std::string readAll(const std::filesystem::path& path)
{
    return readFile(path).value_or("(unreadable)");
}

unsigned permissionsOf(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : ~0u;
}

// Gives a whole tree to owner, as chown -R does.
bool chownTree(const std::filesystem::path& top, uid_t owner, gid_t group)
{
    bool done = ::lchown(top.c_str(), owner, group) == 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
        done = ::lchown(entry.path().c_str(), owner, group) == 0 && done;
    return done;
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

} // namespace

TEST_CASE("writesKeepTheFilesLinksAndIdentity")
{
    const struct {
        const char* name;
        Arrangement arrangement;
        bool keepsInode;
    } rows[] = {
        {"a relative symbolic link", Arrangement::RelativeLink, false},
        {"a chain of links", Arrangement::ChainOfLinks, false},
        {"a second hard link", Arrangement::HardLink, true},
        {"an access list", Arrangement::AccessList, false},
        {"an extended attribute", Arrangement::Attribute, false},
        {"a user's file, saved by root", Arrangement::UsersFileAsRoot, false},
        {"a group its owner is not in", Arrangement::ForeignGroup, true},
        {"a file mounted in its place", Arrangement::MountedInPlace, true},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            const Arrangement arrangement = row.arrangement;
            const bool needsRoot = arrangement == Arrangement::MountedInPlace ||
                                   arrangement == Arrangement::UsersFileAsRoot ||
                                   arrangement == Arrangement::ForeignGroup;
            if (needsRoot && ::geteuid() != 0) {
                MESSAGE("not run: setting another owner needs root");
                continue;
            }
            TestDataFolder folder;
            const std::filesystem::path top = folder.top();
            const std::string before = itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@"});
            std::filesystem::path target = folder.filePath();
            std::vector<std::filesystem::path> names{folder.filePath()}; // every name that must see the new content
            bool asOtherUser = false;
            std::filesystem::create_directories(folder.folderPath());
            std::filesystem::create_directories(top / "elsewhere");
            switch (arrangement) {
            case Arrangement::RelativeLink:
                target = top / "elsewhere/list.txt";
                std::filesystem::create_symlink("../../elsewhere/list.txt", folder.filePath());
                break;
            case Arrangement::ChainOfLinks:
                target = top / "elsewhere/list.txt";
                std::filesystem::create_symlink(top / "hop", folder.filePath());
                std::filesystem::create_symlink("elsewhere/list.txt", top / "hop");
                names.push_back(top / "hop");
                break;
            case Arrangement::HardLink:
                names.push_back(top / "elsewhere/second-name.txt");
                break;
            case Arrangement::MountedInPlace:
                // The child mounts the file over the data file's name, which cannot then be renamed over.
                target = top / "elsewhere/list.txt";
                names = {target};
                folder.write("placeholder");
                break;
            default:
                break;
            }
            REQUIRE(writeFile(target, before));
            const char* targetName = target.c_str();
            switch (arrangement) {
            case Arrangement::HardLink:
                std::filesystem::create_hard_link(target, names.back());
                break;
            case Arrangement::AccessList: {
                const std::string list = accessListGrantingOtherUser();
                REQUIRE(::setxattr(targetName, "system.posix_acl_access", list.data(), list.size(), 0) == 0);
                break;
            }
            case Arrangement::Attribute:
                REQUIRE(::setxattr(targetName, "user.origin", "phone", 5, 0) == 0);
                break;
            case Arrangement::UsersFileAsRoot:
                REQUIRE(::chown(targetName, kOtherUser, kOtherUser) == 0);
                REQUIRE(::chmod(targetName, 0640) == 0);
                break;
            case Arrangement::ForeignGroup:
                // The user owns the folders and the file, but the file's group is one the user is not in.
                REQUIRE(chownTree(top, kOtherUser, 0));
                REQUIRE(::chown(targetName, kOtherUser, 0) == 0);
                REQUIRE(::chmod(targetName, 0660) == 0);
                asOtherUser = true;
                break;
            default:
                break;
            }
            std::map<std::filesystem::path, std::filesystem::path> linksBefore;
            for (const std::filesystem::path& name : names)
                linksBefore[name] = linkText(name);
            const FileState stateBefore = stateOf(target);

            const int code = inChild([&] {
                if (asOtherUser && !becomeOtherUser())
                    return 10;
                if (arrangement == Arrangement::MountedInPlace &&
                    (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                     ::mount(targetName, folder.filePath().c_str(), nullptr, MS_BIND, nullptr) != 0))
                    return 11;
                if (!appendRecord(dataFile(), {"C", "c", "3", "c@"}).ok())
                    return 1;
                Result<RecordGrid> grid = loadRecordGrid(dataFile());
                if (!grid)
                    return 2;
                return saveValues(grid.value(), 1, {"Edited", "a", "1", "a@"}).ok() ? 0 : 3;
            });
            if (code == 11) {
                // Containers and chroots often refuse namespaces and mounts even to root.
                MESSAGE("not run: this machine refuses a mount namespace or a bind mount, even to root");
                continue;
            }
            REQUIRE(code == 0);

            const std::string expected =
                itemLines({"Edited", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
            for (const std::filesystem::path& name : names) {
                CAPTURE(name);
                CHECK(linkText(name) == linksBefore[name]);
                CHECK(readAll(name) == expected);
            }
            const FileState stateAfter = stateOf(target);
            CHECK(stateAfter.owner == stateBefore.owner);
            CHECK(stateAfter.group == stateBefore.group);
            CHECK(stateAfter.mode == stateBefore.mode);
            CHECK(stateAfter.attributes == stateBefore.attributes);
            if (row.keepsInode)
                CHECK(stateAfter.inode == stateBefore.inode);
            CHECK(leftovers(target.parent_path()).empty());
            std::filesystem::path lockedName = arrangement == Arrangement::MountedInPlace ? folder.filePath() : target;
            lockedName += ".lock";
            CHECK_MESSAGE(std::filesystem::exists(lockedName), "the lock sits beside the file itself");
        }
    }
}

TEST_CASE("aLinkToNothingGetsItsTargetMade")
{
    TestDataFolder folder;
    const std::filesystem::path target = folder.top() / "synced/list.txt";
    std::filesystem::create_directories(folder.folderPath());
    std::filesystem::create_symlink(target, folder.filePath());
    REQUIRE(appendRecord(dataFile(), {"A", "a", "1", "a@"}).ok());
    CHECK(readAll(target) == itemLines({"A", "a", "1", "a@"}));
    CHECK(linkText(folder.filePath()) == target);
}

// The lock file is the program's own: a link planted at its name (say by another user, where the list
// is in a shared folder) is neither followed to open its target nor to create one.
TEST_CASE("aLinkAtTheLockFilesNameIsNeverFollowed")
{
    const struct {
        const char* name;
        bool targetExists;
    } rows[] = {{"a link to another file", true}, {"a link to nothing", false}};
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            folder.write(itemLines({"A", "a", "1", "a@"}));
            const std::filesystem::path elsewhere = folder.top() / "someone-elses.txt";
            if (row.targetExists)
                REQUIRE(writeFile(elsewhere, "theirs"));
            std::filesystem::create_symlink(elsewhere, lockFilePath(folder.filePath()));
            const Status added = appendRecord(dataFile(), {"B", "b", "2", "b@"});
            REQUIRE(!added.ok());
            CHECK(added.error().cause == FileError::Cause::LinkInPlace);
            CHECK(folder.read() == itemLines({"A", "a", "1", "a@"}));
            CHECK(std::filesystem::exists(elsewhere) == row.targetExists);
            if (row.targetExists)
                CHECK(readAll(elsewhere) == "theirs");
        }
    }
}

TEST_CASE("writeProtectedFileIsRefusedAndLeftAsItWas")
{
    const struct {
        const char* name;
        bool asRoot;
        mode_t mode;
    } rows[] = {{"read-only to its owner", false, 0400}, {"no write permission at all, as root", true, 0444}};
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            if (row.asRoot && ::geteuid() != 0) {
                MESSAGE("not run: needs root");
                continue;
            }
            TestDataFolder folder;
            const std::string before = itemLines({"A", "a", "1", "a@"});
            folder.write(before);
            const bool asOtherUser = !row.asRoot && ::geteuid() == 0;
            if (asOtherUser)
                REQUIRE(chownTree(folder.top(), kOtherUser, kOtherUser));
            REQUIRE(::chmod(folder.filePath().c_str(), row.mode) == 0);
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
                if (added.ok() || added.error().reason() != refusal)
                    return 3;
                return !saved.ok() && saved.error().reason() == refusal ? 0 : 4;
            });
            CHECK(code == 0);
            CHECK(folder.read() == before);
            const FileState stateAfter = stateOf(folder.filePath());
            CHECK(stateAfter.inode == stateBefore.inode);
            CHECK(stateAfter.mode == stateBefore.mode);
            CHECK(leftovers(folder.folderPath()).empty());
        }
    }
}

TEST_CASE("firstAddMakesOwnerOnlyFoldersThatReachTheDisk")
{
    for (const mode_t mask : {mode_t(0000), mode_t(0022), mode_t(0277)}) {
        SUBCASE(("umask " + std::to_string(mask)).c_str())
        {
            TestDataFolder folder;
            const std::filesystem::path home = folder.top();
            const std::filesystem::path dataHome = home / "deep/share";
            setEnvironment("XDG_DATA_HOME", dataHome);
            const mode_t oldMask = ::umask(mask);
            syncedPaths.clear();
            recordingSyncs = true;
            const Status added = appendRecord(dataFile(), {"A", "a", "1", "a@"});
            recordingSyncs = false;
            ::umask(oldMask);
            REQUIRE(added.ok());

            const std::filesystem::path file = dataHome / "tesselby/tesselby.txt";
            for (const std::filesystem::path& made : {home / "deep", dataHome, dataHome / "tesselby"})
                CHECK(permissionsOf(made) == 0700);
            CHECK(permissionsOf(file) == 0600);
            // Each new entry is on the disk once its folder is synced after it was made.
            for (const std::filesystem::path& entryFolder : {home, home / "deep", dataHome, dataHome / "tesselby"}) {
                CAPTURE(entryFolder);
                CHECK(std::find(syncedPaths.begin(), syncedPaths.end(), entryFolder.string()) != syncedPaths.end());
            }
            // The list's content too: the first add writes it beside the list, synced, and renames it there.
            CHECK(std::any_of(syncedPaths.begin(), syncedPaths.end(), [&](const std::string& synced) {
                return synced == file.string() || synced.starts_with(file.string() + kTemporaryMarker);
            }));
        }
    }
}

TEST_CASE("readingASpecialFileNeverWaits")
{
    for (const char* special : {"pipe", "/dev/zero", "/proc/kmsg"}) {
        SUBCASE(special)
        {
            TestDataFolder folder;
            std::filesystem::create_directories(folder.folderPath());
            std::filesystem::path target = special;
            if (target == "pipe") {
                target = folder.folderPath() / "pipe";
                REQUIRE(::mkfifo(target.c_str(), 0600) == 0);
            } else if (::access(target.c_str(), R_OK) != 0) {
                MESSAGE("not run: this user may not read it");
                continue;
            }
            std::filesystem::create_symlink(target, folder.filePath());
            // The kernel's log waits for news; a read that waits ends the child, and the test with it.
            const int code = inChild([] {
                ::alarm(10);
                const Result<std::string> text = readDataFile(dataFile());
                // Refused when opened, or when a read would wait (the kernel's log is a file of sorts).
                return !text.ok() && (text.error().cause == FileError::Cause::NotAnOrdinaryFile ||
                                      text.error().cause == FileError::Cause::WouldWait)
                           ? 0
                           : 1;
            });
            CHECK(code == 0);
        }
    }
}

TEST_CASE("oneCauseReadsTheSameOnEveryPath")
{
    const struct {
        const char* name;
        bool fullDisk;
        std::string reason;
    } rows[] = {
        {"a file where its folder belongs", false, causeWords(FileError::Cause::FileInPlaceOfFolder)},
        {"a full disk where its folder is made", true, std::strerror(ENOSPC)},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::string& expected = row.reason;
            const std::filesystem::path mountPoint = folder.folderPath().parent_path();
            std::filesystem::create_directories(mountPoint);
            if (!row.fullDisk) {
                REQUIRE(writeFile(folder.folderPath(), ""));
                const Result<std::string> searched = readDataFile(dataFile());
                REQUIRE(!searched.ok());
                CHECK(searched.error().reason() == expected);
            }
            const int code = inChild([&] {
                // A small file system of the child's own, full to its last file entry, gone with the child.
                if (row.fullDisk &&
                    (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                     ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k,nr_inodes=1") != 0))
                    return 10;
                const Status added = appendRecord(dataFile(), {"A", "a", "1", "a@"});
                RecordGrid nothing;
                const Status saved = saveValues(nothing, 1, {});
                if (added.ok() || added.error().reason() != expected)
                    return 1;
                return !saved.ok() && saved.error().reason() == expected ? 0 : 2;
            });
            if (code == 10) {
                MESSAGE("not run: mounting a small file system needs root, and a machine that allows it a mount "
                        "namespace");
                continue;
            }
            CHECK(code == 0);
        }
    }
}
#endif
