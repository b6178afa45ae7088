#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ItemReader.h"
#include "LargeBlock.h"
#include "Record.h"

namespace tesselby {

// New values for some fields of one record; a field without one keeps its item's bytes.
using FieldValues = std::array<std::optional<std::string>, kFieldCount>;

// Every record of a data file, held as the file's text plus where each record ends in it; a record's
// items are read from its text when asked for, so a large list needs little more than its size.
// Records are numbered from 1; a trailing incomplete record counts as a record whose missing fields
// are empty.
class RecordGrid {
public:
    RecordGrid() = default;
    RecordGrid(RecordGrid&& other) noexcept;
    RecordGrid& operator=(RecordGrid&& other) noexcept;

    static RecordGrid fromText(std::string_view text);
    static RecordGrid fromBlock(LargeBlock text);

    std::string_view text() const { return m_text.view(); }
    std::size_t itemCount() const { return m_itemCount; }
    std::size_t recordCount() const { return m_recordEnds.size(); }

    Record record(std::size_t number) const;
    // The beginning of a field's value, for showing (see valueStart).
    ValueStart fieldStart(std::size_t number, int field, std::size_t maxBytes) const;

    // Whether field (0..3) of record number holds the same value as that field of record otherNumber
    // in other, whatever quotes or character set either is written in; a missing item holds an empty
    // value.
    bool sameItem(std::size_t number, int field, const RecordGrid& other, std::size_t otherNumber) const;
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
    // The text with the replacement in, as pieces to write in order.
    std::array<std::string_view, 3> textWith(const Replacement& replacement) const;
    // The grid takes the replacement into its text and index, in place.
    void apply(const Replacement& replacement);

private:
    // A record's items as they stand in the text; a trailing incomplete record has fewer.
    struct RecordItems {
        std::array<RawItem, kFieldCount> items;
        int count = 0;
    };
    const RecordItems& itemsOf(std::size_t number) const;

    // The top bit of a record's end says its last item ended in a comma, which the next one's reading
    // needs to know; the rest is the offset.
    static constexpr std::size_t kAfterComma = std::size_t(1) << (sizeof(std::size_t) * 8 - 1);
    std::size_t recordEnd(std::size_t number) const { return m_recordEnds[number - 1] & ~kAfterComma; }
    std::size_t recordStart(std::size_t number) const { return number == 1 ? 0 : recordEnd(number - 1); }
    bool startsALine(std::size_t number) const;
    bool endsALine(std::size_t number) const;
    void buildIndex();

    LargeBlock m_text;
    std::vector<std::size_t> m_recordEnds;
    std::size_t m_itemCount = 0;
    // The record read last: the screens and the comparisons of a save ask for one record many times.
    mutable std::size_t m_cachedNumber = 0;
    mutable RecordItems m_cached;
};

} // namespace tesselby
