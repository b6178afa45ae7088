#include "PosixFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace tesselby {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    close();
}

bool UniqueFd::close()
{
    if (m_fd < 0)
        return true;
    const int result = ::close(std::exchange(m_fd, -1));
    return result == 0 || errno == EINTR;
}

FileError errorFromErrno(const std::filesystem::path& path)
{
    const int error = errno;
    if (error == EISDIR)
        return FileError{path.string(), "there is a folder in its place"};
    return FileError{path.string(), std::strerror(error)};
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
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

bool readAll(int fd, std::string& out)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    std::size_t used = out.size();
    // One read of the expected size; the loop copes with a file that grows while it is read.
    out.resize(used + static_cast<std::size_t>(info.st_size) + 1);
    for (;;) {
        if (used == out.size())
            out.resize(out.size() * 2 + 4096);
        const ssize_t got = ::read(fd, out.data() + used, out.size() - used);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    out.resize(used);
    return true;
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
        return errorFromErrno(folder);
    if (!std::filesystem::is_directory(folder, error))
        return FileError{folder.string(), "it is not a folder"};
    return std::nullopt;
}

} // namespace tesselby
