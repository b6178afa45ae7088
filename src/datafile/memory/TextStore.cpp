#include "memory/TextStore.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#if defined(__linux__)
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tesselby {

namespace {

// What moves through the program's memory at a time, in a buffer kept warm from use to use.
constexpr std::size_t kStepBytes = 256 * 1024;

} // namespace

#if defined(__linux__)

TextStore::TextStore(TextStore&& other) noexcept
    : m_file(std::exchange(other.m_file, -1)), m_size(std::exchange(other.m_size, 0))
{
}

TextStore& TextStore::operator=(TextStore&& other) noexcept
{
    if (this != &other) {
        if (m_file >= 0)
            ::close(m_file);
        m_file = std::exchange(other.m_file, -1);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

TextStore::~TextStore()
{
    if (m_file >= 0)
        ::close(m_file);
}

void TextStore::readAt(std::size_t offset, char* into, std::size_t length) const
{
    while (length > 0) {
        const ssize_t got = ::pread(m_file, into, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::bad_alloc(); // the copy is in memory: only a lack of it can fail a read
        into += got;
        offset += static_cast<std::size_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

void TextStore::writeAt(std::size_t offset, const char* from, std::size_t length)
{
    if (m_file < 0) {
        m_file = memfd_create("tesselby-list", MFD_CLOEXEC);
        if (m_file < 0)
            throw std::bad_alloc();
    }
    while (length > 0) {
        const ssize_t written = ::pwrite(m_file, from, length, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw std::bad_alloc(); // out of memory for the copy
        from += written;
        offset += static_cast<std::size_t>(written);
        length -= static_cast<std::size_t>(written);
    }
}

void TextStore::append(std::string_view bytes)
{
    writeAt(m_size, bytes.data(), bytes.size());
    m_size += bytes.size();
}

void TextStore::read(std::size_t offset, std::size_t length, std::string& out) const
{
    out.resize(length);
    readAt(offset, out.data(), length);
}

void TextStore::replace(std::size_t from, std::size_t to, std::string_view with)
{
    const std::size_t tail = m_size - to;
    const std::size_t newTo = from + with.size();
    // The memory a longer text needs is taken before anything moves, so that a lack of it leaves the
    // text as it was rather than half moved.
    if (newTo + tail > m_size && m_file >= 0 && ::fallocate(m_file, 0, 0, static_cast<off_t>(newTo + tail)) != 0)
        throw std::bad_alloc();
    m_scratch.resize(std::min(tail, kStepBytes));
    // The rest moves a step at a time, from its far end when it moves out, so nothing is read after it
    // was written over.
    if (newTo > to) {
        for (std::size_t left = tail; left > 0;) {
            const std::size_t step = std::min(left, kStepBytes);
            left -= step;
            readAt(to + left, m_scratch.data(), step);
            writeAt(newTo + left, m_scratch.data(), step);
        }
    } else if (newTo < to) {
        for (std::size_t done = 0; done < tail;) {
            const std::size_t step = std::min(tail - done, kStepBytes);
            readAt(to + done, m_scratch.data(), step);
            writeAt(newTo + done, m_scratch.data(), step);
            done += step;
        }
        if (::ftruncate(m_file, static_cast<off_t>(newTo + tail)) != 0)
            throw std::bad_alloc();
    }
    writeAt(from, with.data(), with.size());
    m_size = newTo + tail;
}

Status TextStore::writeTo(NativeFile& file, std::size_t offset, std::size_t length) const
{
    // The system moves what it can; the program's memory, whose fresh pages are slow, only the rest.
    std::size_t done = 0;
    while (done < length) {
        const Result<std::uint64_t> sent = file.sendSome(m_file, offset + done, length - done);
        if (!sent)
            return sent.error();
        if (sent.value() == 0)
            break;
        done += static_cast<std::size_t>(sent.value());
    }
    m_scratch.resize(std::min(length - done, kStepBytes));
    while (done < length) {
        const std::size_t step = std::min(length - done, kStepBytes);
        readAt(offset + done, m_scratch.data(), step);
        if (Status written = file.write(std::string_view(m_scratch.data(), step)); !written)
            return written;
        done += step;
    }
    return {};
}

#else

TextStore::TextStore(TextStore&& other) noexcept
    : m_bytes(std::move(other.m_bytes)), m_size(std::exchange(other.m_size, 0))
{
}

TextStore& TextStore::operator=(TextStore&& other) noexcept
{
    m_bytes = std::move(other.m_bytes);
    m_size = std::exchange(other.m_size, 0);
    return *this;
}

TextStore::~TextStore() = default;

void TextStore::append(std::string_view bytes)
{
    m_bytes.append(bytes);
    m_size = m_bytes.size();
}

void TextStore::read(std::size_t offset, std::size_t length, std::string& out) const
{
    out.assign(m_bytes.data() + offset, length);
}

void TextStore::replace(std::size_t from, std::size_t to, std::string_view with)
{
    m_bytes.replace(from, to, with);
    m_size = m_bytes.size();
}

Status TextStore::writeTo(NativeFile& file, std::size_t offset, std::size_t length) const
{
    return file.write(std::string_view(m_bytes.data() + offset, length));
}

#endif

} // namespace tesselby
