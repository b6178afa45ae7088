#include "FileLock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tesselby {

std::filesystem::path lockFilePath(const std::filesystem::path& dataFile)
{
    std::filesystem::path lock = dataFile;
    lock += ".lock";
    return lock;
}

Result<FileLock> FileLock::acquire(const std::filesystem::path& dataFile, std::chrono::milliseconds patience)
{
    const std::filesystem::path path = lockFilePath(dataFile);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return FileError{path.string(), std::strerror(errno)};
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if ((error != EWOULDBLOCK && error != EINTR) || std::chrono::steady_clock::now() > deadline) {
            ::close(fd);
            if (error == EWOULDBLOCK)
                return FileError{dataFile.string(), "another copy of Tesselby is still writing it"};
            return FileError{path.string(), std::strerror(error)};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return FileLock(fd);
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the descriptor releases the lock
}

} // namespace tesselby
