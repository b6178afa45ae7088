#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ItemReader.h"
#include "Record.h"

namespace tesselby {

// Every record of a data file, held as the file's text plus where each item sits in it, so that a
// large list loads without a string per item. Records are numbered from 1; a trailing incomplete
// record counts as a record whose missing fields are empty. Edits are kept beside the text until
// they are saved.
class RecordGrid {
public:
    RecordGrid() = default;

    // Empty when an item is too large to index (over 4 GiB).
    static std::optional<RecordGrid> fromText(std::string text);

    std::size_t itemCount() const { return m_items.size(); }
    std::size_t recordCount() const { return (m_items.size() + kFieldCount - 1) / kFieldCount; }

    Record record(std::size_t number) const;
    void setRecord(std::size_t number, Record record);
    bool hasEdits() const { return !m_edits.empty(); }

    // Appends record number's four item lines: an edited record as edited, an unedited one with its
    // bytes as they were read, a missing field as an empty item.
    void appendRecordText(std::string& out, std::size_t number) const;

private:
    friend std::string mergeEditsIntoFile(const RecordGrid& edited, const RecordGrid& onDisk);

    struct ItemSpan {
        std::size_t offset;
        std::uint32_t length;
        bool quoted;
        bool doubledQuotes;
    };

    RawItem rawItem(std::size_t index) const;

    std::string m_text;
    std::vector<ItemSpan> m_items;
    std::map<std::size_t, Record> m_edits;
};

// The text a save writes: the file as it is now with the grid's edits in their records, and any record
// the grid holds beyond the file's end (the file lost it since it was loaded) kept.
std::string mergeEditsIntoFile(const RecordGrid& edited, const RecordGrid& onDisk);

} // namespace tesselby
