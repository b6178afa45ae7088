#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "ItemReader.h"
#include "LargeBlock.h"
#include "Record.h"
#include "Result.h"

namespace tesselby {

// Where a list is read from: fills into with at most room bytes and says how many, 0 at the end.
using ByteSource = std::function<Result<std::size_t>(char* into, std::size_t room)>;

// Walks the records of a list as it streams in through one buffer, kept from walk to walk. Where the
// list stands as the program writes it (one quoted item a line), records are handed over a buffer at a
// time with where their lines end; anything else is read item by item.
class RecordStream {
public:
    static constexpr std::size_t kDefaultChunkBytes = std::size_t(1) << 20;

    struct Visitor {
        virtual ~Visitor() = default;
        // Whole records of four written lines each at the start of bytes, which stand offset bytes into
        // the list; lineEnds holds where each line's LF is in bytes.
        virtual void writtenRecords(std::string_view bytes, const std::uint32_t* lineEnds, std::size_t records,
                                    std::uint64_t offset) = 0;
        // One record read item by item: count items, fewer only for a trailing incomplete record; bytes
        // from its start to where the next record's reading starts, which is after a comma or not.
        virtual void readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view bytes,
                                std::uint64_t offset, bool afterComma) = 0;
    };

    explicit RecordStream(std::size_t chunkBytes = kDefaultChunkBytes);

    // With writtenOnlyInUtf8, written records that are not valid UTF-8 are read item by item. Says
    // whether the list starts with a byte-order mark.
    Result<bool> walk(const ByteSource& source, Visitor& visitor, bool writtenOnlyInUtf8 = false);

private:
    struct Pass;

    LargeBlock m_buffer;
    std::vector<std::uint32_t> m_lineEnds;
    std::size_t m_chunkBytes;
};

// A source that reads a text in memory.
ByteSource sourceOf(std::string_view text);

} // namespace tesselby
