#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Result.h"
#include "disk/NativeFile.h"
#include "memory/LargeBlock.h"

namespace tesselby {

// A private copy of a loaded list's text, that only this program changes. On Linux it is kept in the
// system's memory as an anonymous file: read back a record at a time, it needs none of the program's
// own memory, whose fresh pages are slow to touch on some machines. Elsewhere it is kept in memory.
// Throws std::bad_alloc when the memory is not there.
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
    // Writes bytes [offset, offset + length) to file, where it stands.
    Status writeTo(NativeFile& file, std::size_t offset, std::size_t length) const;

private:
#if defined(__linux__)
    void readAt(std::size_t offset, char* into, std::size_t length) const;
    void writeAt(std::size_t offset, const char* from, std::size_t length);
    int m_file = -1;
    mutable std::string m_scratch;
#else
    LargeBlock m_bytes;
#endif
    std::size_t m_size = 0;
};

} // namespace tesselby
