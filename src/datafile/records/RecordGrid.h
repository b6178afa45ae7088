#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ByteStreams.h"
#include "Result.h"
#include "format/ItemScanner.h"
#include "memory/TextStore.h"
#include "records/Record.h"
#include "records/RecordEnds.h"
#include "records/RecordStream.h"

namespace tesselby {

// New values for some fields of one record; a field without one keeps its item's bytes.
using FieldValues = PerField<std::optional<std::string>>;

// Every record of a data file, held as a private copy of the file's text (see TextStore) plus where each
// record ends in it; a record's items are read from the copy when asked for.
// Records are numbered from 1; a trailing incomplete record counts as a record whose missing fields
// are empty.
class RecordGrid {
public:
    RecordGrid() = default;
    RecordGrid(RecordGrid&& other) noexcept;
    RecordGrid& operator=(RecordGrid&& other) noexcept;

    // Reads a list as it streams in from source, expected to hold about expectedBytes. Throws
    // std::bad_alloc when the memory is not there.
    static Result<RecordGrid> read(const ByteSource& source, std::size_t expectedBytes);
    static RecordGrid fromText(std::string_view text);

    const TextStore& store() const { return m_text; }
    // A copy of the whole text, for lists known to be small.
    std::string text() const;
    std::size_t itemCount() const { return m_itemCount; }
    std::size_t recordCount() const { return m_recordEnds.size(); }

    Record record(std::size_t number) const;
    // The beginning of a field's value, for showing (see valueStart).
    ValueStart fieldStart(std::size_t number, Field field, std::size_t maxBytes) const;

    // Whether field of record number holds the same value as that field of record otherNumber
    // in other, whatever quotes or character set either is written in; a missing item holds an empty
    // value.
    bool sameItem(std::size_t number, Field field, const RecordGrid& other, std::size_t otherNumber) const;
    bool sameRecord(std::size_t number, const RecordGrid& other, std::size_t otherNumber) const;

    // A change of one record, as the text that takes the place of the fewest whole lines holding it:
    // the record with its new values, and any records sharing those lines written item by item.
    struct Replacement {
        std::size_t from = 0;
        std::size_t to = 0;
        std::size_t firstRecord = 0;
        std::size_t lastRecord = 0;
        std::string lines;
        std::vector<std::size_t> recordEnds; // offsets into lines
    };
    Replacement replacementFor(std::size_t number, const FieldValues& values) const;
    // The text with the replacement in: its size, and its bytes written to sink.
    std::uint64_t sizeWith(const Replacement& replacement) const;
    Status writeWith(const Replacement& replacement, ByteSink& sink) const;
    // The grid takes the replacement into its text and index, in place.
    void apply(const Replacement& replacement);

private:
    class Indexer;

    // A record's items, read into bytes; a trailing incomplete record has fewer.
    struct RecordItems {
        std::array<RawItem, kFieldCount> items;
        int count = 0;
    };
    RecordItems itemsOf(std::size_t number, std::string& bytes) const;
    // The same, kept for the next asks: the screens and a save's comparisons ask for a record often.
    // What it refers to stays until two other records have been asked for.
    const RecordItems& itemsOf(std::size_t number) const;

    // A record's end says whether its last item ended in a comma, which the next one's reading needs
    // to know, and whether it ends a line.
    static constexpr std::size_t kAfterComma = RecordEnds::kAfterComma;
    static constexpr std::size_t kEndsALine = RecordEnds::kEndsALine;
    static constexpr std::size_t kFlags = RecordEnds::kFlags;
    std::size_t recordEnd(std::size_t number) const { return m_recordEnds[number - 1] & ~kFlags; }
    std::size_t recordStart(std::size_t number) const { return number == 1 ? 0 : recordEnd(number - 1); }
    bool startsALine(std::size_t number) const { return number == 1 || endsALine(number - 1); }
    bool endsALine(std::size_t number) const { return (m_recordEnds[number - 1] & kEndsALine) != 0; }

    TextStore m_text;
    bool m_byteOrderMark = false;
    RecordEnds m_recordEnds;
    std::size_t m_itemCount = 0;
    // The two records read last, for paging back and forth and for comparing two records.
    struct CachedRecord {
        std::size_t number = 0;
        std::string bytes;
        RecordItems items;
    };
    mutable std::array<CachedRecord, 2> m_cache;
    mutable std::size_t m_cacheNext = 0;
    void forgetCache() const;
};

} // namespace tesselby
