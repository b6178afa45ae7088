#include "FileLock.h"

#include <utility>

namespace tesselby {

std::filesystem::path lockFilePath(const std::filesystem::path& dataFile)
{
    std::filesystem::path lock = dataFile;
    lock += ".lock";
    return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : m_handle(std::exchange(other.m_handle, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_handle = std::exchange(other.m_handle, -1);
    }
    return *this;
}

FileLock::~FileLock()
{
    release();
}

} // namespace tesselby
