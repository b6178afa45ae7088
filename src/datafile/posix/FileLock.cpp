#include "FileLock.h"

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "NativeFile.h"

namespace tesselby {

Result<FileLock> FileLock::acquire(const std::filesystem::path& dataFile, std::chrono::milliseconds patience)
{
    const std::filesystem::path path = lockFilePath(dataFile);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return lastSystemError(path);
    FileLock lock(fd);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return lastSystemError(path);
        if (std::chrono::steady_clock::now() > deadline)
            return FileError{dataFile, "another copy of Tesselby is still writing it"};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lock;
}

void FileLock::release()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(std::exchange(m_handle, -1))); // closing the descriptor releases the lock
}

} // namespace tesselby
