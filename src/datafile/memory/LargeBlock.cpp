#include "memory/LargeBlock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tesselby {

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    if (bytes > SIZE_MAX - unit)
        throw std::bad_alloc();
    return (bytes + unit - 1) / unit * unit;
}

#if defined(__linux__)

char* resizeMemory(char* data, std::size_t oldBytes, std::size_t newBytes)
{
    void* moved = data == nullptr ? mmap(nullptr, newBytes, PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
                                  : mremap(data, oldBytes, newBytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
        throw std::bad_alloc();
    if (newBytes >= kHugePage)
        (void)madvise(moved, newBytes, MADV_HUGEPAGE); // a hint: without it the block works the same
    return static_cast<char*>(moved);
}

void freeMemory(char* data, std::size_t bytes)
{
    if (data != nullptr)
        munmap(data, bytes);
}

// Asks the system for the pages of [data, data + bytes) in one call: cheaper than a fault for each page
// on first touch. A hint: without it (an older system) the pages come as they are touched.
void backMemory(char* data, std::size_t bytes)
{
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    (void)madvise(data, bytes, MADV_POPULATE_WRITE);
}

#else

char* resizeMemory(char* data, std::size_t, std::size_t newBytes)
{
    void* moved = std::realloc(data, newBytes);
    if (moved == nullptr)
        throw std::bad_alloc();
    return static_cast<char*>(moved);
}

void freeMemory(char* data, std::size_t)
{
    std::free(data);
}

void backMemory(char*, std::size_t) {}

#endif

} // namespace

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)), m_backed(std::exchange(other.m_backed, 0))
{
}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept
{
    if (this != &other) {
        freeMemory(m_data, m_capacity);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_backed = std::exchange(other.m_backed, 0);
    }
    return *this;
}

LargeBlock::~LargeBlock()
{
    freeMemory(m_data, m_capacity);
}

void LargeBlock::reserve(std::size_t bytes)
{
    if (bytes <= m_capacity)
        return;
    // Growing by half again keeps appends cheap; the unused part is only address space.
    const std::size_t wanted = std::max(bytes, m_capacity + m_capacity / 2);
    const std::size_t capacity = roundUp(wanted, kPage);
    m_data = resizeMemory(m_data, m_capacity, capacity);
    m_capacity = capacity;
}

void LargeBlock::resize(std::size_t bytes)
{
    reserve(bytes);
    m_size = bytes;
}

void LargeBlock::append(std::string_view bytes)
{
    char* at = extend(bytes.size());
    if (!bytes.empty())
        std::memcpy(at, bytes.data(), bytes.size());
}

char* LargeBlock::extend(std::size_t bytes)
{
    if (bytes > m_capacity - m_size)
        reserve(m_size + bytes);
    // Grown a little at a time, a block is backed ahead of its end, a step at a time: a quarter of what
    // it holds, from 64 KiB up to 4 MiB.
    if (m_size + bytes > m_backed) {
        const std::size_t ahead = std::clamp<std::size_t>(m_size / 4, std::size_t(64) << 10, std::size_t(4) << 20);
        const std::size_t from = m_backed / kPage * kPage;
        const std::size_t to = std::min(m_capacity, roundUp(m_size + bytes, kPage) + ahead);
        backMemory(m_data + from, to - from);
        m_backed = to;
    }
    char* at = m_data + m_size;
    m_size += bytes;
    return at;
}

void LargeBlock::replace(std::size_t from, std::size_t to, std::string_view with)
{
    const std::size_t tail = m_size - to;
    const std::size_t newSize = m_size - (to - from) + with.size();
    reserve(newSize);
    if (tail != 0)
        std::memmove(m_data + from + with.size(), m_data + to, tail);
    if (!with.empty())
        std::memcpy(m_data + from, with.data(), with.size());
    m_size = newSize;
}

void LargeBlock::releaseUnused()
{
    const std::size_t keep = roundUp(m_size, kPage);
    if (m_data == nullptr || keep >= m_capacity)
        return;
    if (keep == 0) {
        freeMemory(m_data, m_capacity);
        m_data = nullptr;
        m_capacity = 0;
        m_backed = 0;
        return;
    }
    m_data = resizeMemory(m_data, m_capacity, keep);
    m_capacity = keep;
    m_backed = std::min(m_backed, keep);
}

} // namespace tesselby
