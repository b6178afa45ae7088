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

bool RecordGrid::endsALine(std::size_t number) const
{
    const std::size_t end = m_recordEnds[number - 1];
    return end > 0 && (m_text[end - 1] == '\n' || m_text[end - 1] == '\r');
}

std::string RecordGrid::recordLines(std::size_t number) const
{
    std::string lines;
    if (auto edit = m_edits.find(number); edit != m_edits.end()) {
        for (const std::string& value : edit->second)
            appendItem(lines, value);
        return lines;
    }
    for (std::size_t i = (number - 1) * kFieldCount; i < number * kFieldCount; ++i)
        appendItemAsRead(lines, rawItem(i));
    return lines;
}

std::optional<std::vector<std::string_view>> RecordGrid::editedTextInPieces(std::vector<std::string>& newLines) const
{
    const std::size_t records = recordCount();
    // The full merge writes the last record item by item and drops anything after it; this path only
    // serves where that changes nothing.
    if (records == 0 || m_items.size() % kFieldCount != 0 || m_recordEnds.back() != m_text.size())
        return std::nullopt;
    if (!m_edits.contains(records) &&
        m_text.compare(recordStart(records), std::string::npos, recordLines(records)) != 0)
        return std::nullopt;
    std::vector<std::string_view> pieces;
    newLines.clear();
    newLines.reserve(m_edits.size());
    std::size_t done = 0;
    for (const auto& [number, values] : m_edits) {
        // An edited record on lines of its own is replaced by its new lines without touching its neighbours.
        if (number < 1 || number > records || !startsALine(number) || !endsALine(number))
            return std::nullopt;
        pieces.push_back(std::string_view(m_text).substr(done, recordStart(number) - done));
        pieces.push_back(newLines.emplace_back(recordLines(number)));
        done = m_recordEnds[number - 1];
    }
    pieces.push_back(std::string_view(m_text).substr(done));
    return pieces;
}

void RecordGrid::applyEditsInPlace()
{
    // From the last edit back, so that each one finds the records before it where they were.
    for (auto edit = m_edits.rbegin(); edit != m_edits.rend(); ++edit) {
        const std::size_t number = edit->first;
        const std::size_t start = recordStart(number);
        const std::size_t oldEnd = m_recordEnds[number - 1];
        std::string lines;
        std::size_t item = (number - 1) * kFieldCount;
        for (const std::string& value : edit->second) {
            const std::size_t lineStart = lines.size();
            appendItem(lines, value);
            m_items[item++] = ItemSpan{start + lineStart + 1, static_cast<std::uint32_t>(lines.size() - lineStart - 4),
                                       true, value.find('"') != std::string::npos};
        }
        m_text.replace(start, oldEnd - start, lines);
        const std::size_t newEnd = start + lines.size();
        for (std::size_t i = number * kFieldCount; i < m_items.size(); ++i)
            m_items[i].offset = m_items[i].offset - oldEnd + newEnd;
        for (std::size_t r = number - 1; r < m_recordEnds.size(); ++r)
            m_recordEnds[r] = m_recordEnds[r] - oldEnd + newEnd;
    }
    m_edits.clear();
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
    const std::size_t firstItem = m_items.size();
    const std::size_t firstEnd = m_recordEnds.size();
    m_items.insert(m_items.end(), source.m_items.begin() + static_cast<std::ptrdiff_t>((first - 1) * kFieldCount),
                   source.m_items.begin() + static_cast<std::ptrdiff_t>(last * kFieldCount));
    m_recordEnds.insert(m_recordEnds.end(), source.m_recordEnds.begin() + static_cast<std::ptrdiff_t>(first - 1),
                        source.m_recordEnds.begin() + static_cast<std::ptrdiff_t>(last));
    if (shift == 0)
        return; // the records before the first edit stay where they were
    for (std::size_t i = firstItem; i < m_items.size(); ++i)
        m_items[i].offset += shift;
    for (std::size_t r = firstEnd; r < m_recordEnds.size(); ++r)
        m_recordEnds[r] += shift;
}

void RecordGrid::appendRecordItemByItem(const RecordGrid& source, std::size_t number)
{
    // The file's last record may lack fields, its final line end or even its closing quote; written
    // item by item, it comes out whole.
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
