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
    grid.m_recordEnds.reserve(grid.m_text.size() / 48);
    ItemScanner scanner(grid.m_text);
    RawItem item;
    while (scanner.next(item)) {
        if (item.raw.size() > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
        grid.m_items.push_back(ItemSpan{static_cast<std::size_t>(item.raw.data() - grid.m_text.data()),
                                        static_cast<std::uint32_t>(item.raw.size()), item.quoted, item.doubledQuotes});
        if (grid.m_items.size() % kFieldCount == 0)
            grid.m_recordEnds.push_back(scanner.offset());
    }
    if (grid.m_items.size() % kFieldCount != 0)
        grid.m_recordEnds.push_back(scanner.offset());
    grid.m_items.shrink_to_fit();
    grid.m_recordEnds.shrink_to_fit();
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

void RecordGrid::appendRecordValues(const Record& values)
{
    for (const std::string& value : values) {
        const std::size_t lineStart = m_text.size();
        appendItem(m_text, value);
        const std::size_t length = m_text.size() - lineStart - 4; // less the quotes and CR LF
        m_items.push_back(
            ItemSpan{lineStart + 1, static_cast<std::uint32_t>(length), true, value.find('"') != std::string::npos});
    }
    m_recordEnds.push_back(m_text.size());
}

bool RecordGrid::startsALine(std::size_t number) const
{
    const std::size_t start = recordStart(number);
    return start == 0 || m_text[start - 1] == '\n' || m_text[start - 1] == '\r';
}

void RecordGrid::appendRecordsAsRead(const RecordGrid& source, std::size_t first, std::size_t last)
{
    // A record that shares a line with the one before it reads differently away from it (after a
    // trailing comma, a line end is an empty item), so it is written item by item.
    while (first <= last && !source.startsALine(first))
        appendRecordItemByItem(source, first++);
    if (first > last)
        return;
    // One copy for the rest of the run; its items keep their places relative to each other.
    const std::size_t from = source.recordStart(first);
    const std::size_t to = source.m_recordEnds[last - 1];
    const std::size_t shift = m_text.size() - from;
    m_text.append(source.m_text, from, to - from);
    for (std::size_t i = (first - 1) * kFieldCount; i < last * kFieldCount; ++i) {
        ItemSpan span = source.m_items[i];
        span.offset += shift;
        m_items.push_back(span);
    }
    for (std::size_t r = first; r <= last; ++r)
        m_recordEnds.push_back(source.m_recordEnds[r - 1] + shift);
}

void RecordGrid::appendRecordItemByItem(const RecordGrid& source, std::size_t number)
{
    // The file's last record may lack fields, its final line end or even its closing quote; written
    // item by item, it comes out whole.
    Record values;
    const std::size_t first = (number - 1) * kFieldCount;
    for (std::size_t f = 0; f < kFieldCount; ++f) {
        if (first + f >= source.m_items.size()) {
            appendItem(m_text, {});
            m_items.push_back(ItemSpan{m_text.size() - 3, 0, true, false});
            continue;
        }
        const RawItem item = source.rawItem(first + f);
        const std::size_t lineStart = m_text.size();
        appendItemAsRead(m_text, item);
        const std::size_t length = m_text.size() - lineStart - 4;
        m_items.push_back(
            ItemSpan{lineStart + 1, static_cast<std::uint32_t>(length), true,
                     item.doubledQuotes || (!item.quoted && item.raw.find('"') != std::string_view::npos)});
    }
    m_recordEnds.push_back(m_text.size());
}

RecordGrid mergeEdits(const RecordGrid& edited, const RecordGrid& onDisk)
{
    RecordGrid merged;
    const std::size_t records = std::max(edited.recordCount(), onDisk.recordCount());
    merged.m_text.reserve(std::max(edited.m_text.size(), onDisk.m_text.size()) + 1024);
    merged.m_items.reserve(records * kFieldCount);
    merged.m_recordEnds.reserve(records);

    auto nextEdit = edited.m_edits.begin();
    std::size_t r = 1;
    while (r <= records) {
        while (nextEdit != edited.m_edits.end() && nextEdit->first < r)
            ++nextEdit;
        if (nextEdit != edited.m_edits.end() && nextEdit->first == r) {
            merged.appendRecordValues(nextEdit->second);
            ++r;
            continue;
        }
        // Records another copy of the program appended or changed stay as they are on disk; records
        // beyond the file's end come from the grid.
        const RecordGrid& source = r <= onDisk.recordCount() ? onDisk : edited;
        std::size_t last = source.recordCount();
        if (nextEdit != edited.m_edits.end())
            last = std::min(last, nextEdit->first - 1);
        if (last == source.recordCount()) {
            if (last > r)
                merged.appendRecordsAsRead(source, r, last - 1);
            merged.appendRecordItemByItem(source, last);
        } else {
            merged.appendRecordsAsRead(source, r, last);
        }
        r = last + 1;
    }
    return merged;
}

} // namespace tesselby
