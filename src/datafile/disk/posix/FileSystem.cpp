#include "disk/FileSystem.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SystemError.h"

namespace tesselby {

Result<std::optional<std::filesystem::path>> readLink(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) // nothing there to follow; the file's own use says why
            return std::optional<std::filesystem::path>();
        return lastSystemError(path);
    }
    if (!S_ISLNK(info.st_mode))
        return std::optional<std::filesystem::path>();
    std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
    for (;;) {
        const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
        if (got < 0)
            return lastSystemError(path);
        if (static_cast<std::size_t>(got) < target.size()) {
            target.resize(static_cast<std::size_t>(got));
            return std::optional<std::filesystem::path>(target);
        }
        target.resize(target.size() * 2); // the link was changed to a longer one in between
    }
}

Status checkLinkTrusted(const std::filesystem::path& link)
{
    const uid_t self = ::geteuid();
    const auto trustedOwner = [self](uid_t owner) { return owner == self || owner == 0; };
    struct stat entry {};
    if (::lstat(link.c_str(), &entry) != 0)
        return lastSystemError(link);
    if (!trustedOwner(entry.st_uid))
        return FileError{link, "it is a symbolic link of another user's, which is not followed"};
    // Whoever may change a folder on the way may put another link, or another folder, in place of this one.
    for (std::filesystem::path folder = link.parent_path();; folder = folder.parent_path()) {
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0)
            return lastSystemError(folder);
        const std::string where = " (" + pathText(folder) + ")";
        if (!trustedOwner(info.st_uid))
            return FileError{link,
                             "it is a symbolic link in another user's folder" + where + ", which is not followed"};
        const bool sharedSafely =
            (info.st_mode & S_ISVTX) != 0 && (entry.st_uid == self || entry.st_uid == info.st_uid);
        if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !sharedSafely)
            return FileError{link, "it is a symbolic link in a folder other users may change" + where +
                                       ", which is not followed"};
        if (folder == folder.parent_path())
            return {};
        entry = info;
    }
}

Status checkFileTrusted(const std::filesystem::path& path)
{
    struct stat file {};
    struct stat folder {};
    if (::stat(path.c_str(), &file) != 0)
        return lastSystemError(path);
    if (::stat(folderOf(path).c_str(), &folder) != 0)
        return lastSystemError(folderOf(path));
    const uid_t self = ::geteuid();
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (shared && file.st_uid != self && file.st_uid != folder.st_uid)
        return FileError{path, "it is another user's file in a folder others may write, which is not written over"};
    return {};
}

Result<FileIdentity> identityAt(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return lastSystemError(path);
    return identityOf(info);
}

Result<FileStamp> stampAt(const std::filesystem::path& path)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return lastSystemError(path);
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return FileStamp{static_cast<std::uint64_t>(info.st_dev),
                     static_cast<std::uint64_t>(info.st_ino),
                     static_cast<std::uint64_t>(info.st_size),
                     nanoseconds(info.st_mtim),
                     nanoseconds(info.st_ctim),
                     nanoseconds(now)};
}

Result<FileIdentity> entryIdentityAt(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return lastSystemError(path);
    return identityOf(info);
}

Status makeFolder(const std::filesystem::path& path)
{
    if (::mkdir(path.c_str(), 0700) != 0)
        return lastSystemError(path);
    // Owner-only whatever the umask, as the base directory rules ask.
    if (::chmod(path.c_str(), 0700) != 0)
        return lastSystemError(path);
    return {};
}

Status moveOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return lastSystemError(to);
    if (Status synced = syncFolder(folderOf(to)); !synced)
        return Status::landedUnconfirmed(synced.error());
    return {};
}

Status moveToNewName(const std::filesystem::path& from, const std::filesystem::path& to)
{
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return syncFolder(folderOf(to));
    if (errno != EINVAL && errno != ENOSYS)
        return lastSystemError(to);
#endif
    // Where the system cannot rename without replacing: a second name, which fails when to is taken.
    if (::link(from.c_str(), to.c_str()) != 0)
        return lastSystemError(to);
    if (::unlink(from.c_str()) != 0)
        return lastSystemError(from);
    return syncFolder(folderOf(to));
}

bool trustedAsOwn(const FileIdentity& file, const FileIdentity& list)
{
    const uid_t self = ::geteuid();
    return file.owner == self || (self == 0 && file.owner == list.owner);
}

Status removeFile(const std::filesystem::path& path)
{
    if (::unlink(path.c_str()) != 0)
        return lastSystemError(path);
    return {};
}

Status syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return lastSystemError(folder);
    if (::fsync(fd) != 0) {
        const FileError failure = lastSystemError(folder);
        ::close(fd);
        return failure;
    }
    ::close(fd);
    return {};
}

Status checkWriteAccess(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return lastSystemError(path);
    // The superuser passes every access check, so a file nobody may write is refused by its bits.
    if ((info.st_mode & 0222) == 0)
        return systemError(path, EACCES);
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return lastSystemError(path);
    return {};
}

std::optional<std::filesystem::path> absolutePathFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0' || value[0] != '/')
        return std::nullopt;
    return std::filesystem::path(value);
}

} // namespace tesselby
