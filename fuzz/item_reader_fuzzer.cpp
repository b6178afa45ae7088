// Any bytes at all, read as a data file: no crash, hang or leak; an add after them and a save of what
// was read both read back as the records they should hold.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ItemReader.h"
#include "ItemWriter.h"
#include "ListEnd.h"
#include "RecordGrid.h"
#include "RecordSearch.h"

using namespace tesselby;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    ItemScanner scanner(text);
    RawItem item;
    std::size_t items = 0;
    while (scanner.next(item)) {
        ++items;
        (void)decodeItem(item);
    }

    const auto grid = RecordGrid::fromText(text);
    if (!grid || grid->itemCount() != items)
        std::abort();

    // An add after whatever the file holds stands as a record of its own, and every earlier record
    // reads as before; the file's end is found the same way through a small buffer as in one piece.
    const ListEnd end = listEndOf(text);
    if (end.items != items)
        std::abort();
    const Record added{"added", "\"quoted\", with a comma", "", "line\r\nbreak"};
    std::string afterAdd = text + end.completion();
    for (const std::string& value : added)
        appendItem(afterAdd, value);
    const auto grown = RecordGrid::fromText(afterAdd);
    if (!grown || grown->recordCount() != grid->recordCount() + 1 || grown->record(grown->recordCount()) != added)
        std::abort();
    for (std::size_t r = 1; r <= grid->recordCount(); ++r) {
        if (grown->record(r) != grid->record(r))
            std::abort();
    }

    // The first bytes double as a search text, so searches run over every kind of item.
    const std::string needle = text.substr(0, size % 5);
    for (int field = 1; field <= kFieldCount; ++field)
        (void)searchRecords(text, field, needle);

    // An edit of one record, chosen by the input, saved: every record reads back as the grid holds it,
    // both from the saved text and from the index built while saving.
    RecordGrid edited = *grid;
    if (grid->recordCount() > 0)
        edited.setRecord(1 + size % grid->recordCount(), Record{"edited", "\"quoted\"", "", "a,b"});
    const RecordGrid merged = mergeEdits(edited, *grid);
    const auto saved = RecordGrid::fromText(merged.text());
    if (!saved || saved->recordCount() != edited.recordCount() || merged.recordCount() != edited.recordCount())
        std::abort();
    for (std::size_t r = 1; r <= edited.recordCount(); ++r) {
        const Record expected = edited.record(r);
        if (saved->record(r) != expected || merged.record(r) != expected)
            std::abort();
    }

    // Where the save can write the edit in place, it writes exactly what the full merge writes, and the
    // grid then holds the same text and records.
    std::vector<std::string> newLines;
    if (const auto pieces = edited.editedTextInPieces(newLines)) {
        std::string written;
        for (const std::string_view piece : *pieces)
            written.append(piece);
        if (written != merged.text())
            std::abort();
        RecordGrid inPlace = edited;
        inPlace.applyEditsInPlace();
        if (inPlace.text() != merged.text() || inPlace.recordCount() != merged.recordCount())
            std::abort();
        for (std::size_t r = 1; r <= merged.recordCount(); ++r) {
            if (inPlace.record(r) != merged.record(r))
                std::abort();
        }
    }
    return 0;
}
