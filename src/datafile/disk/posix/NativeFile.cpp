#include "disk/NativeFile.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/sendfile.h>
#endif

#include "SystemError.h"

namespace tesselby {

namespace {

int fdOf(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

// Not blocking, so that a pipe, a device or a special file put in the file's place cannot hang the
// program: regular files ignore the flag, the others are refused or fail their read.
constexpr int kCommonFlags = O_CLOEXEC | O_NONBLOCK;

int openFlags(NativeFile::Access access)
{
    switch (access) {
    case NativeFile::Access::Read:
        return O_RDONLY;
    case NativeFile::Access::Append:
        return O_RDWR | O_APPEND;
    case NativeFile::Access::Rewrite:
        return O_WRONLY;
    case NativeFile::Access::Lock:
        return O_RDWR | O_NOFOLLOW;
    case NativeFile::Access::OwnRead:
        return O_RDONLY | O_NOFOLLOW;
    case NativeFile::Access::Folder:
        return O_RDONLY | O_DIRECTORY;
    }
    return O_RDONLY;
}

Result<std::vector<std::string>> attributeNames(int fd, const std::filesystem::path& path)
{
    std::string names;
    for (;;) {
        const ssize_t wanted = ::flistxattr(fd, nullptr, 0);
        if (wanted < 0)
            return errno == ENOTSUP ? Result<std::vector<std::string>>(std::vector<std::string>{})
                                    : Result<std::vector<std::string>>(lastSystemError(path));
        names.resize(static_cast<std::size_t>(wanted));
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) // the list grew in between
            return lastSystemError(path);
    }
    std::vector<std::string> list;
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        list.emplace_back(names, start, end - start);
        start = end + 1;
    }
    return list;
}

Result<std::string> attributeValue(int fd, const std::string& name, const std::filesystem::path& path)
{
    std::string value;
    for (;;) {
        const ssize_t wanted = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (wanted < 0)
            return lastSystemError(path);
        value.resize(static_cast<std::size_t>(wanted));
        const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE)
            return lastSystemError(path);
    }
}

} // namespace

Result<NativeFile> NativeFile::open(const std::filesystem::path& path, Access access)
{
    int fd = ::open(path.c_str(), openFlags(access) | kCommonFlags, 0600);
    bool created = false;
    if (fd < 0 && errno == ENOENT && (access == Access::Append || access == Access::Lock)) {
        fd = ::open(path.c_str(), openFlags(access) | kCommonFlags | O_CREAT | O_EXCL, 0600);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) // another copy made it in between
            fd = ::open(path.c_str(), openFlags(access) | kCommonFlags, 0600);
    }
    if (fd < 0 && errno == ELOOP && (access == Access::Lock || access == Access::OwnRead))
        return FileError{path, FileError::Cause::LinkInPlace};
    if (fd < 0)
        return lastSystemError(path);
    NativeFile file(fd, path, access);
    file.m_created = created;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return lastSystemError(path);
    if (access == Access::Folder)
        return file;
    if (S_ISDIR(info.st_mode))
        return FileError{path, FileError::Cause::FolderInPlace};
    if (!S_ISREG(info.st_mode))
        return FileError{path, FileError::Cause::NotAnOrdinaryFile};
    // Owner-only whatever the umask, so that the program can go on writing what it made.
    if (created && ::fchmod(fd, 0600) != 0)
        return lastSystemError(path);
    return file;
}

Result<NativeFile> NativeFile::createNew(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return lastSystemError(path);
    NativeFile file(fd, path, Access::Rewrite);
    if (::fchmod(fd, 0600) != 0)
        return lastSystemError(path);
    return file;
}

Result<std::size_t> NativeFile::readSome(char* into, std::size_t wanted)
{
    for (;;) {
        const ssize_t got = ::read(fdOf(m_handle), into, wanted);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return lastSystemError(m_path);
    }
}

Result<std::size_t> NativeFile::readSomeAt(std::uint64_t offset, char* into, std::size_t wanted)
{
    for (;;) {
        const ssize_t got = ::pread(fdOf(m_handle), into, wanted, static_cast<off_t>(offset));
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return lastSystemError(m_path);
    }
}

Result<std::size_t> NativeFile::writeSome(const char* bytes, std::size_t wanted)
{
    for (;;) {
        const ssize_t written = ::write(fdOf(m_handle), bytes, wanted);
        if (written > 0)
            return static_cast<std::size_t>(written);
        if (written == 0)
            return systemError(m_path, ENOSPC);
        if (errno != EINTR)
            return lastSystemError(m_path);
    }
}

#if defined(__linux__)
Result<std::uint64_t> NativeFile::sendSome(int source, std::uint64_t offset, std::uint64_t length)
{
    for (;;) {
        off_t from = static_cast<off_t>(offset);
        const ssize_t sent = ::sendfile(fdOf(m_handle), source, &from, std::min<std::uint64_t>(length, 1u << 30));
        if (sent >= 0)
            return static_cast<std::uint64_t>(sent);
        if (errno == EINVAL || errno == ENOSYS)
            return std::uint64_t{0};
        if (errno != EINTR)
            return lastSystemError(m_path);
    }
}
#endif

Result<std::uint64_t> NativeFile::size()
{
    struct stat info {};
    if (::fstat(fdOf(m_handle), &info) != 0)
        return lastSystemError(m_path);
    return static_cast<std::uint64_t>(info.st_size);
}

Result<FileIdentity> NativeFile::identity()
{
    struct stat info {};
    if (::fstat(fdOf(m_handle), &info) != 0)
        return lastSystemError(m_path);
    return identityOf(info);
}

Status NativeFile::sync()
{
    if (::fsync(fdOf(m_handle)) != 0)
        return lastSystemError(m_path);
    return {};
}

Status NativeFile::truncate(std::uint64_t bytes)
{
    if (::ftruncate(fdOf(m_handle), static_cast<off_t>(bytes)) != 0)
        return lastSystemError(m_path);
    return {};
}

Status NativeFile::seek(std::uint64_t offset)
{
    if (::lseek(fdOf(m_handle), static_cast<off_t>(offset), SEEK_SET) < 0)
        return lastSystemError(m_path);
    return {};
}

Result<bool> NativeFile::tryLock(bool shared)
{
    if (::flock(fdOf(m_handle), (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0)
        return true;
    if (errno == EWOULDBLOCK || errno == EINTR)
        return false;
    return lastSystemError(m_path);
}

void NativeFile::unlock()
{
    (void)::flock(fdOf(m_handle), LOCK_UN);
}

Status NativeFile::takeIdentityOf(NativeFile& original)
{
    const int fd = fdOf(m_handle);
    const int from = fdOf(original.m_handle);
    struct stat wanted {};
    struct stat now {};
    if (::fstat(from, &wanted) != 0)
        return lastSystemError(original.m_path);
    if (::fstat(fd, &now) != 0)
        return lastSystemError(m_path);
    // The owner first, since a change of owner clears the set-user and set-group bits.
    if ((now.st_uid != wanted.st_uid || now.st_gid != wanted.st_gid) && ::fchown(fd, wanted.st_uid, wanted.st_gid) != 0)
        return lastSystemError(m_path);

    // Access lists are attributes too; the new file may have inherited some from its folder.
    Result<std::vector<std::string>> names = attributeNames(from, original.m_path);
    Result<std::vector<std::string>> inherited = attributeNames(fd, m_path);
    if (!names)
        return names.error();
    if (!inherited)
        return inherited.error();
    const std::set<std::string> keep(names.value().begin(), names.value().end());
    for (const std::string& name : inherited.value()) {
        if (!keep.contains(name) && ::fremovexattr(fd, name.c_str()) != 0)
            return lastSystemError(m_path);
    }
    for (const std::string& name : names.value()) {
        const Result<std::string> value = attributeValue(from, name, original.m_path);
        if (!value)
            return value.error();
        if (::fsetxattr(fd, name.c_str(), value.value().data(), value.value().size(), 0) != 0)
            return lastSystemError(m_path);
    }
    // Last, so that the group bits and the access list's mask end as they were.
    if (::fchmod(fd, wanted.st_mode & 07777) != 0)
        return lastSystemError(m_path);
    return {};
}

Status NativeFile::close()
{
    if (m_handle < 0)
        return {};
    if (::close(fdOf(std::exchange(m_handle, -1))) != 0 && errno != EINTR)
        return lastSystemError(m_path);
    return {};
}

} // namespace tesselby
