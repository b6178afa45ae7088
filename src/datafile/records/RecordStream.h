#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "ByteStreams.h"
#include "Result.h"
#include "format/ItemScanner.h"
#include "memory/LargeBlock.h"
#include "records/FastScan.h"
#include "records/Record.h"

namespace tesselby {

// What a walk is asked to do beyond handing over the records.
struct WalkOptions {
    // Written records that are not valid UTF-8 are then read item by item.
    bool writtenOnlyInUtf8 = false;
    std::optional<MarkedByte> mark;
};

// Walks the records of a list as it streams in through one buffer, kept from walk to walk. Where the
// list stands as the program writes it (one quoted item a line), records are handed over a buffer at a
// time with where each ends; anything else is read item by item.
class RecordStream {
public:
    // Reads about the size of a processor's second-level cache leave their bytes there for the scan.
    static constexpr std::size_t kDefaultChunkBytes = std::size_t(1) << 18;

    // Whole records of four written lines each, at the start of bytes.
    struct WrittenWindow {
        std::string_view bytes;
        const std::uint32_t* recordEnds; // where each record's last LF is in bytes
        std::size_t records;
        std::uint64_t offset; // of bytes in the list
        // The records (0-based, in order) whose field holds the byte the walk was asked to mark.
        const std::uint32_t* marked;
        std::size_t markedCount;

        std::size_t recordStart(std::size_t record) const { return record == 0 ? 0 : recordEnds[record - 1] + 1; }
        std::string_view record(std::size_t record) const
        {
            return bytes.substr(recordStart(record), recordEnds[record] + 1 - recordStart(record));
        }
    };

    struct Visitor {
        virtual ~Visitor() = default;
        virtual void writtenRecords(const WrittenWindow& window) = 0;
        // One record read item by item: count items, fewer only for a trailing incomplete record; bytes
        // from its start to where the next record's reading starts, which is after a comma or not.
        virtual void readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view bytes,
                                std::uint64_t offset, bool afterComma) = 0;
    };

    explicit RecordStream(std::size_t chunkBytes = kDefaultChunkBytes);

    // Says whether the list starts with a byte-order mark.
    Result<bool> walk(const ByteSource& source, Visitor& visitor, const WalkOptions& options = {});

private:
    struct Pass;

    LargeBlock m_buffer;
    std::vector<std::uint32_t> m_recordEnds;
    std::vector<std::uint32_t> m_marked;
    std::size_t m_chunkBytes;
};

// A source that reads a text in memory.
ByteSource sourceOf(std::string_view text);

} // namespace tesselby
