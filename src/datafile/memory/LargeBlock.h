#pragma once

#include <cstddef>
#include <string_view>

namespace tesselby {

// A growable run of bytes for data the size of a list: the file's text, or a search's matches. Memory
// is taken from the system directly and grows in place or by moving its pages, never by copying, so
// a block needs its size once, not twice; bytes past the size cost nothing until written. Large blocks
// ask for huge pages where the system offers them, since touching fresh small pages is slow on some
// machines. Throws std::bad_alloc when the memory is not there.
class LargeBlock {
public:
    LargeBlock() = default;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    ~LargeBlock();

    char* data() { return m_data; }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    std::string_view view() const { return {m_data, m_size}; }

    void reserve(std::size_t bytes);
    // New bytes are left as they are, for the caller to fill.
    void resize(std::size_t bytes);
    void append(std::string_view bytes);
    // Adds bytes at the end, left as they are for the caller to fill (a read from a file); where they start.
    char* extend(std::size_t bytes);
    // Puts with in the place of bytes [from, to), moving what follows.
    void replace(std::size_t from, std::size_t to, std::string_view with);
    // Empties the block but keeps its memory, for the next use to fill without asking for it again.
    void clear() { m_size = 0; }
    // Gives back the memory past the size.
    void releaseUnused();

private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::size_t m_backed = 0; // the bytes from the start whose pages the system was asked for
};

} // namespace tesselby
