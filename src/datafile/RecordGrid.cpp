#include "RecordGrid.h"

#include <algorithm>
#include <limits>

#include "ItemWriter.h"

namespace tesselby {

std::optional<RecordGrid> RecordGrid::fromText(std::string text)
{
    RecordGrid grid;
    grid.m_text = std::move(text);
    // Most items are short; a guess avoids growing the index many times over on large files.
    grid.m_items.reserve(grid.m_text.size() / 12);
    ItemScanner scanner(grid.m_text);
    RawItem item;
    while (scanner.next(item)) {
        if (item.raw.size() > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
        grid.m_items.push_back(ItemSpan{static_cast<std::size_t>(item.raw.data() - grid.m_text.data()),
                                        static_cast<std::uint32_t>(item.raw.size()), item.quoted, item.doubledQuotes});
    }
    grid.m_items.shrink_to_fit();
    return grid;
}

RawItem RecordGrid::rawItem(std::size_t index) const
{
    const ItemSpan& span = m_items[index];
    return RawItem{std::string_view(m_text).substr(span.offset, span.length), span.quoted, span.doubledQuotes};
}

Record RecordGrid::record(std::size_t number) const
{
    if (auto edit = m_edits.find(number); edit != m_edits.end())
        return edit->second;
    Record result;
    if (number == 0)
        return result;
    const std::size_t first = (number - 1) * kFieldCount;
    for (std::size_t f = 0; f < kFieldCount && first + f < m_items.size(); ++f)
        result[f] = decodeItem(rawItem(first + f));
    return result;
}

void RecordGrid::setRecord(std::size_t number, Record record)
{
    m_edits[number] = std::move(record);
}

void RecordGrid::appendRecordText(std::string& out, std::size_t number) const
{
    if (auto edit = m_edits.find(number); edit != m_edits.end()) {
        for (const std::string& value : edit->second)
            appendItem(out, value);
        return;
    }
    const std::size_t first = (number - 1) * kFieldCount;
    for (std::size_t f = 0; f < kFieldCount; ++f) {
        if (first + f < m_items.size())
            appendItemAsRead(out, rawItem(first + f));
        else
            appendItem(out, {});
    }
}

std::string mergeEditsIntoFile(const RecordGrid& edited, const RecordGrid& onDisk)
{
    std::string out;
    out.reserve(onDisk.m_text.size() + onDisk.m_text.size() / 8 + 256);
    const std::size_t records = std::max(edited.recordCount(), onDisk.recordCount());
    for (std::size_t r = 1; r <= records; ++r) {
        // Records that another copy of the program appended or changed stay as they are on disk.
        if (edited.m_edits.contains(r) || r > onDisk.recordCount())
            edited.appendRecordText(out, r);
        else
            onDisk.appendRecordText(out, r);
    }
    return out;
}

} // namespace tesselby
