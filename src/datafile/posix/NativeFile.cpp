#include "NativeFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tesselby {

namespace {

int fdOf(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

} // namespace

Result<NativeFile> NativeFile::open(const std::filesystem::path& path, Access access, bool* missing)
{
    if (missing != nullptr)
        *missing = false;
    const int flags = access == Access::Read ? O_RDONLY : O_RDWR | O_CREAT | O_APPEND;
    // Not blocking, so that a pipe put in the file's place cannot hang the program.
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        if (missing != nullptr)
            *missing = errno == ENOENT;
        return lastSystemError(path);
    }
    NativeFile file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return lastSystemError(path);
    if (S_ISDIR(info.st_mode))
        return folderInPlaceError(path);
    if (!S_ISREG(info.st_mode))
        return FileError{path, "it is not an ordinary file"};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

Result<NativeFile> NativeFile::createBeside(const std::filesystem::path& path, std::filesystem::path& temporaryPath)
{
    mode_t mode = 0600;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0)
        mode = existing.st_mode & 07777;
    std::string name = path.string() + kTemporaryMarker + "XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return lastSystemError(path.parent_path());
    NativeFile file(fd);
    temporaryPath = name;
    if (::fchmod(fd, mode) != 0)
        return lastSystemError(path);
    return file;
}

std::int64_t NativeFile::readSome(char* into, std::size_t wanted)
{
    for (;;) {
        const ssize_t got = ::read(fdOf(m_handle), into, wanted);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool NativeFile::size(std::uint64_t& bytes)
{
    struct stat info {};
    if (::fstat(fdOf(m_handle), &info) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool NativeFile::endsWithLineEnd()
{
    std::uint64_t bytes = 0;
    if (!size(bytes) || bytes == 0)
        return true;
    char last = '\n';
    return ::pread(fdOf(m_handle), &last, 1, static_cast<off_t>(bytes - 1)) == 1 && (last == '\n' || last == '\r');
}

bool NativeFile::append(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fdOf(m_handle), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool NativeFile::sync()
{
    return ::fsync(fdOf(m_handle)) == 0;
}

bool NativeFile::truncate(std::uint64_t bytes)
{
    return ::ftruncate(fdOf(m_handle), static_cast<off_t>(bytes)) == 0;
}

bool NativeFile::close()
{
    if (m_handle < 0)
        return true;
    const int result = ::close(fdOf(std::exchange(m_handle, -1)));
    return result == 0 || errno == EINTR;
}

bool moveOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return false;
    // Makes the rename itself durable; a failure here is not worth failing a save that has happened.
    const std::filesystem::path folder = to.parent_path();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

FileError lastSystemError(const std::filesystem::path& path)
{
    const int error = errno;
    if (error == EISDIR)
        return folderInPlaceError(path);
    return FileError{path, std::strerror(error)};
}

Status ensureParentFolder(const std::filesystem::path& file)
{
    const std::filesystem::path folder = file.parent_path();
    if (folder.empty())
        return std::nullopt;
    std::error_code error;
    if (std::filesystem::is_directory(folder, error))
        return std::nullopt;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return lastSystemError(folder);
    if (!std::filesystem::is_directory(folder, error))
        return FileError{folder, "it is not a folder"};
    return std::nullopt;
}

} // namespace tesselby
