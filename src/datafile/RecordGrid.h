#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ItemReader.h"
#include "Record.h"

namespace tesselby {

// New values for some fields of one record; a field without one keeps its item's bytes.
using FieldValues = std::array<std::optional<std::string>, kFieldCount>;

// Every record of a data file, held as the file's text plus where each item sits in it, so that a
// large list loads without a string per item. Records are numbered from 1; a trailing incomplete
// record counts as a record whose missing fields are empty.
class RecordGrid {
    struct ItemSpan {
        std::size_t offset;
        std::uint32_t length;
        bool quoted;
        bool doubledQuotes;
    };

public:
    RecordGrid() = default;

    // Empty when an item is too large to index (over 4 GiB).
    static std::optional<RecordGrid> fromText(std::string text);

    const std::string& text() const { return m_text; }
    std::size_t itemCount() const { return m_items.size(); }
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
        std::vector<ItemSpan> items; // offsets into lines
    };
    Replacement replacementFor(std::size_t number, const FieldValues& values) const;
    // The text with the replacement in, as pieces to write in order.
    std::array<std::string_view, 3> textWith(const Replacement& replacement) const;
    // The grid takes the replacement into its text and index, in place.
    void apply(const Replacement& replacement);

private:
    RawItem rawItem(std::size_t index) const;
    std::size_t recordStart(std::size_t number) const { return number == 1 ? 0 : m_recordEnds[number - 2]; }
    bool startsALine(std::size_t number) const;
    bool endsALine(std::size_t number) const;

    std::string m_text;
    std::vector<ItemSpan> m_items;
    // Where each record's text ends: just past its last item and that item's line end.
    std::vector<std::size_t> m_recordEnds;
};

} // namespace tesselby
