#include "records/MatchList.h"

#include <string>

#include "format/ItemWriter.h"

namespace tesselby {

namespace {

constexpr std::size_t kPendingBytes = 256 * 1024;

} // namespace

void MatchList::clear()
{
    *this = MatchList();
}

void MatchList::noteStart()
{
    if (m_count % kIndexEvery == 0)
        m_starts.push_back(m_bytes.size() + m_pending.size());
    ++m_count;
}

void MatchList::flush() const
{
    m_bytes.append(m_pending);
    m_pending.clear();
}

void MatchList::addWrittenLines(std::string_view lines)
{
    noteStart();
    if (m_pending.size() + lines.size() > kPendingBytes)
        flush();
    if (lines.size() > kPendingBytes)
        m_bytes.append(lines);
    else
        m_pending.append(lines);
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
    if (!m_pending.empty())
        flush();
    const std::size_t group = index / kIndexEvery;
    if (group != m_readGroup) {
        m_readGroup = SIZE_MAX;
        const std::size_t start = m_starts[group];
        const std::size_t end = group + 1 < m_starts.size() ? m_starts[group + 1] : m_bytes.size();
        m_bytes.read(start, end - start, m_groupBytes);
        m_readGroup = group;
    }
    ItemScanner scanner(m_groupBytes, false);
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

ValueStart MatchList::valueStart(std::size_t index, Field field, std::size_t maxBytes) const
{
    return tesselby::valueStart(items(index)[fieldIndex(field)], maxBytes);
}

} // namespace tesselby
