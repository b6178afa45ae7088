#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "ByteStreams.h"
#include "Result.h"
#include "memory/LargeBlock.h"
#if defined(__linux__)
#include "memory/posix/SystemMemoryFile.h"
#endif

namespace tesselby {

// A private copy of a loaded list's text, that only this program changes. On Linux it is kept in the
// system's memory as an anonymous file: read back a record at a time, it needs none of the program's
// own memory, whose fresh pages are slow to touch on some machines. Elsewhere it is kept in memory.
// Throws std::bad_alloc when the memory is not there (see SystemMemoryFile for what else it may throw).
class TextStore {
public:
    TextStore() = default;
    TextStore(const TextStore&) = delete;
    TextStore& operator=(const TextStore&) = delete;
    TextStore(TextStore&& other) noexcept;
    TextStore& operator=(TextStore&& other) noexcept;
    ~TextStore();

    std::size_t size() const { return m_size; }
    void append(std::string_view bytes);
    // Bytes [offset, offset + length) into out, which they replace.
    void read(std::size_t offset, std::size_t length, std::string& out) const;
    // Puts with in the place of bytes [from, to), moving what follows.
    void replace(std::size_t from, std::size_t to, std::string_view with);
    // Writes bytes [offset, offset + length) to sink.
    Status writeTo(ByteSink& sink, std::size_t offset, std::size_t length) const;

private:
#if defined(__linux__)
    SystemMemoryFile m_file;
    mutable std::string m_scratch;
#else
    LargeBlock m_bytes;
#endif
    std::size_t m_size = 0;
};

} // namespace tesselby
