#include "memory/posix/SystemMemoryFile.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace tesselby {

namespace {

// A full memory file system, or a file larger than it may be, is a lack of memory; anything else is not.
[[noreturn]] void throwFailure(int code)
{
    if (code == ENOMEM || code == ENOSPC || code == EFBIG)
        throw std::bad_alloc();
    throw std::system_error(code, std::generic_category());
}

} // namespace

SystemMemoryFile::SystemMemoryFile(SystemMemoryFile&& other) noexcept : m_file(std::exchange(other.m_file, -1)) {}

SystemMemoryFile& SystemMemoryFile::operator=(SystemMemoryFile&& other) noexcept
{
    if (this != &other) {
        if (m_file >= 0)
            ::close(m_file);
        m_file = std::exchange(other.m_file, -1);
    }
    return *this;
}

SystemMemoryFile::~SystemMemoryFile()
{
    if (m_file >= 0)
        ::close(m_file);
}

void SystemMemoryFile::readAt(std::size_t offset, char* into, std::size_t length) const
{
    while (length > 0) {
        const ssize_t got = ::pread(m_file, into, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwFailure(errno);
        if (got == 0)
            throwFailure(EIO); // read past what was written: a fault of the caller's
        into += got;
        offset += static_cast<std::size_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

void SystemMemoryFile::writeAt(std::size_t offset, const char* from, std::size_t length)
{
    if (m_file < 0) {
        m_file = memfd_create("tesselby-list", MFD_CLOEXEC);
        if (m_file < 0)
            throwFailure(errno);
    }
    while (length > 0) {
        const ssize_t written = ::pwrite(m_file, from, length, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throwFailure(errno);
        if (written == 0)
            throwFailure(ENOSPC);
        from += written;
        offset += static_cast<std::size_t>(written);
        length -= static_cast<std::size_t>(written);
    }
}

void SystemMemoryFile::reserve(std::size_t size)
{
    if (m_file >= 0 && ::fallocate(m_file, 0, 0, static_cast<off_t>(size)) != 0)
        throwFailure(errno);
}

void SystemMemoryFile::truncate(std::size_t size)
{
    if (m_file >= 0 && ::ftruncate(m_file, static_cast<off_t>(size)) != 0)
        throwFailure(errno);
}

} // namespace tesselby
