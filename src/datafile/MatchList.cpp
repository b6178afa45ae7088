#include "MatchList.h"

#include <string>

#include "ItemWriter.h"

namespace tesselby {

void MatchList::clear()
{
    m_bytes.clear();
    m_starts.clear();
    m_count = 0;
}

void MatchList::releaseUnused()
{
    m_bytes.releaseUnused();
    m_starts.shrink_to_fit();
}

void MatchList::noteStart()
{
    if (m_count % kIndexEvery == 0)
        m_starts.push_back(m_bytes.size());
    ++m_count;
}

void MatchList::addWrittenLines(std::string_view lines)
{
    noteStart();
    m_bytes.append(lines);
}

void MatchList::addItems(const std::array<RawItem, kFieldCount>& items)
{
    std::string lines;
    for (const RawItem& item : items)
        appendItemAsRead(lines, item);
    addWrittenLines(lines);
}

void MatchList::addRecord(const Record& values)
{
    std::string lines;
    for (const std::string& value : values)
        appendItem(lines, value);
    addWrittenLines(lines);
}

std::array<RawItem, kFieldCount> MatchList::items(std::size_t index) const
{
    std::array<RawItem, kFieldCount> items;
    const std::size_t start = m_starts[index / kIndexEvery];
    ItemScanner scanner(m_bytes.view().substr(start), false);
    for (std::size_t skip = index % kIndexEvery; skip > 0; --skip) {
        for (RawItem& item : items)
            scanner.next(item);
    }
    for (RawItem& item : items)
        scanner.next(item);
    return items;
}

Record MatchList::record(std::size_t index) const
{
    Record values;
    const std::array<RawItem, kFieldCount> found = items(index);
    for (int f = 0; f < kFieldCount; ++f)
        values[f] = decodeItem(found[f]);
    return values;
}

ValueStart MatchList::valueStart(std::size_t index, int field, std::size_t maxBytes) const
{
    return tesselby::valueStart(items(index)[field], maxBytes);
}

} // namespace tesselby
