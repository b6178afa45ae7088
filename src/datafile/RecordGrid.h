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

    const std::string& text() const { return m_text; }
    std::size_t itemCount() const { return m_items.size(); }
    std::size_t recordCount() const { return m_recordEnds.size(); }

    Record record(std::size_t number) const;
    // Edits record number, one of 1..recordCount(); the edit waits in the grid until it is saved.
    void setRecord(std::size_t number, Record record);
    bool hasEdits() const { return !m_edits.empty(); }

    // What a save of the edits writes when the file still holds exactly this grid's text, as pieces to
    // write in order (the new records' lines go to newLines), without a copy of the whole text. Empty
    // when the edits need a full merge: the result is always mergeEdits(*this, *this).text().
    std::optional<std::vector<std::string_view>> editedTextInPieces(std::vector<std::string>& newLines) const;
    // After editedTextInPieces was written: the grid takes the edits into its text, in place.
    void applyEditsInPlace();

private:
    friend RecordGrid mergeEdits(const RecordGrid& edited, const RecordGrid& onDisk);

    struct ItemSpan {
        std::size_t offset;
        std::uint32_t length;
        bool quoted;
        bool doubledQuotes;
    };

    RawItem rawItem(std::size_t index) const;
    std::size_t recordStart(std::size_t number) const { return number == 1 ? 0 : m_recordEnds[number - 2]; }
    bool startsALine(std::size_t number) const;
    bool endsALine(std::size_t number) const;
    std::string recordLines(std::size_t number) const;

    void appendRecordValues(const Record& values);
    void appendRecordsAsRead(const RecordGrid& source, std::size_t first, std::size_t last);
    void appendRecordItemByItem(const RecordGrid& source, std::size_t number);

    std::string m_text;
    std::vector<ItemSpan> m_items;
    // Where each record's text ends: just past its last item and that item's line end.
    std::vector<std::size_t> m_recordEnds;
    std::map<std::size_t, Record> m_edits;
};

// What a save writes: the file as it is now (onDisk) with the grid's edits in their records, and any
// record the grid holds beyond the file's end (the file lost it since it was loaded) kept. Unedited
// records keep their bytes; a trailing incomplete record is written whole.
RecordGrid mergeEdits(const RecordGrid& edited, const RecordGrid& onDisk);

} // namespace tesselby
