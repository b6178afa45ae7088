#include "memory/TextStore.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tesselby {

namespace {

// What moves through the program's memory at a time, in a buffer kept warm from use to use.
constexpr std::size_t kStepBytes = 256 * 1024;

} // namespace

#if defined(__linux__)

TextStore::TextStore(TextStore&& other) noexcept
    : m_file(std::move(other.m_file)), m_size(std::exchange(other.m_size, 0))
{
}

TextStore& TextStore::operator=(TextStore&& other) noexcept
{
    if (this != &other) {
        m_file = std::move(other.m_file);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

TextStore::~TextStore() = default;

void TextStore::append(std::string_view bytes)
{
    m_file.writeAt(m_size, bytes.data(), bytes.size());
    m_size += bytes.size();
}

void TextStore::read(std::size_t offset, std::size_t length, std::string& out) const
{
    out.resize(length);
    m_file.readAt(offset, out.data(), length);
}

void TextStore::replace(std::size_t from, std::size_t to, std::string_view with)
{
    const std::size_t tail = m_size - to;
    const std::size_t newTo = from + with.size();
    // The memory a longer text needs is taken before anything moves, so that a lack of it leaves the
    // text as it was rather than half moved.
    if (newTo + tail > m_size)
        m_file.reserve(newTo + tail);
    m_scratch.resize(std::min(tail, kStepBytes));
    // The rest moves a step at a time, from its far end when it moves out, so nothing is read after it
    // was written over.
    if (newTo > to) {
        for (std::size_t left = tail; left > 0;) {
            const std::size_t step = std::min(left, kStepBytes);
            left -= step;
            m_file.readAt(to + left, m_scratch.data(), step);
            m_file.writeAt(newTo + left, m_scratch.data(), step);
        }
    } else if (newTo < to) {
        for (std::size_t done = 0; done < tail;) {
            const std::size_t step = std::min(tail - done, kStepBytes);
            m_file.readAt(to + done, m_scratch.data(), step);
            m_file.writeAt(newTo + done, m_scratch.data(), step);
            done += step;
        }
        m_file.truncate(newTo + tail);
    }
    m_file.writeAt(from, with.data(), with.size());
    m_size = newTo + tail;
}

Status TextStore::writeTo(ByteSink& sink, std::size_t offset, std::size_t length) const
{
    // The system moves what it can; the program's memory, whose fresh pages are slow, only the rest.
    std::size_t done = 0;
    while (done < length) {
        const Result<std::uint64_t> sent = sink.sendSome(m_file.handle(), offset + done, length - done);
        if (!sent)
            return sent.error();
        if (sent.value() == 0)
            break;
        done += static_cast<std::size_t>(sent.value());
    }
    m_scratch.resize(std::min(length - done, kStepBytes));
    while (done < length) {
        const std::size_t step = std::min(length - done, kStepBytes);
        m_file.readAt(offset + done, m_scratch.data(), step);
        if (Status written = sink.write(std::string_view(m_scratch.data(), step)); !written)
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

Status TextStore::writeTo(ByteSink& sink, std::size_t offset, std::size_t length) const
{
    return sink.write(std::string_view(m_bytes.data() + offset, length));
}

#endif

} // namespace tesselby
