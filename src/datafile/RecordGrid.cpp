#include "RecordGrid.h"

#include <algorithm>
#include <utility>

#include "ItemWriter.h"
#include "WrittenLines.h"

namespace tesselby {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Written lines are indexed this much at a time, so that their line ends stay in the cache.
constexpr std::size_t kWindowBytes = 256 * 1024;

} // namespace

RecordGrid::RecordGrid(RecordGrid&& other) noexcept
    : m_text(std::move(other.m_text)), m_recordEnds(std::move(other.m_recordEnds)),
      m_itemCount(std::exchange(other.m_itemCount, 0))
{
    other.m_cachedNumber = 0;
}

RecordGrid& RecordGrid::operator=(RecordGrid&& other) noexcept
{
    m_text = std::move(other.m_text);
    m_recordEnds = std::move(other.m_recordEnds);
    m_itemCount = std::exchange(other.m_itemCount, 0);
    m_cachedNumber = 0;
    other.m_cachedNumber = 0;
    return *this;
}

RecordGrid RecordGrid::fromText(std::string_view text)
{
    LargeBlock block;
    block.append(text);
    return fromBlock(std::move(block));
}

RecordGrid RecordGrid::fromBlock(LargeBlock text)
{
    RecordGrid grid;
    grid.m_text = std::move(text);
    grid.buildIndex();
    return grid;
}

void RecordGrid::buildIndex()
{
    const std::string_view text = m_text.view();
    // No record is shorter than four one-byte items, so the index never grows while it is built; the
    // part it does not fill is never touched and costs no memory.
    m_recordEnds.reserve(text.size() / 8 + 1);
    std::vector<std::uint32_t> lineEnds(writtenLinesRoom(std::min(text.size(), kWindowBytes)));
    std::size_t at = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    bool afterComma = false;
    // After a comma, even the end of the text holds an item: an empty one.
    while (at < text.size() || afterComma) {
        const WrittenLines lines = scanWrittenLines(text.substr(at, kWindowBytes), lineEnds.data());
        if (const std::size_t records = lines.lines / kFieldCount; records != 0) {
            for (std::size_t r = 1; r <= records; ++r)
                m_recordEnds.push_back(at + lineEnds[r * kFieldCount - 1] + 1);
            m_itemCount += records * kFieldCount;
            at += lineEnds[records * kFieldCount - 1] + 1;
            afterComma = false;
            continue;
        }
        ItemScanner scanner(text.substr(at), false, afterComma);
        RawItem item;
        int filled = 0;
        while (filled < kFieldCount && scanner.next(item))
            ++filled;
        if (filled == 0)
            break;
        m_itemCount += static_cast<std::size_t>(filled);
        afterComma = scanner.afterComma();
        at += scanner.offset();
        m_recordEnds.push_back(at | (afterComma ? kAfterComma : 0));
        if (filled < kFieldCount)
            break;
    }
}

const RecordGrid::RecordItems& RecordGrid::itemsOf(std::size_t number) const
{
    if (m_cachedNumber == number)
        return m_cached;
    const std::size_t start = recordStart(number);
    const bool afterComma = number > 1 && (m_recordEnds[number - 2] & kAfterComma) != 0;
    ItemScanner scanner(m_text.view().substr(start), number == 1, afterComma);
    m_cached.count = 0;
    while (m_cached.count < kFieldCount && scanner.next(m_cached.items[m_cached.count]))
        ++m_cached.count;
    m_cachedNumber = number;
    return m_cached;
}

Record RecordGrid::record(std::size_t number) const
{
    Record result;
    if (number == 0 || number > recordCount())
        return result;
    const RecordItems& found = itemsOf(number);
    for (int f = 0; f < found.count; ++f)
        result[f] = decodeItem(found.items[f]);
    return result;
}

ValueStart RecordGrid::fieldStart(std::size_t number, int field, std::size_t maxBytes) const
{
    if (number == 0 || number > recordCount())
        return {};
    const RecordItems& found = itemsOf(number);
    if (field >= found.count)
        return {};
    return valueStart(found.items[field], maxBytes);
}

bool RecordGrid::sameItem(std::size_t number, int field, const RecordGrid& other, std::size_t otherNumber) const
{
    if (number == 0 || number > recordCount() || otherNumber == 0 || otherNumber > other.recordCount())
        return false;
    // A copy: other may be this grid, whose next read replaces what it last read.
    const RecordItems mine = itemsOf(number);
    const RecordItems& theirs = other.itemsOf(otherNumber);
    const bool haveMine = field < mine.count;
    const bool haveTheirs = field < theirs.count;
    // A missing item reads as empty, as the add that completes its record writes it.
    if (!haveMine && !haveTheirs)
        return true;
    if (!haveMine || !haveTheirs)
        return (haveMine ? mine : theirs).items[field].raw.empty();
    const RawItem& a = mine.items[field];
    const RawItem& b = theirs.items[field];
    if (a.quoted == b.quoted && a.raw == b.raw)
        return true;
    // Written again with other quotes or in another character set, it is still the same value.
    return decodeItem(a) == decodeItem(b);
}

bool RecordGrid::sameRecord(std::size_t number, const RecordGrid& other, std::size_t otherNumber) const
{
    for (int f = 0; f < kFieldCount; ++f) {
        if (!sameItem(number, f, other, otherNumber))
            return false;
    }
    return true;
}

bool RecordGrid::startsALine(std::size_t number) const
{
    const std::size_t start = recordStart(number);
    return start == 0 || m_text.data()[start - 1] == '\n' || m_text.data()[start - 1] == '\r';
}

bool RecordGrid::endsALine(std::size_t number) const
{
    const std::size_t end = recordEnd(number);
    return end > 0 && (m_text.data()[end - 1] == '\n' || m_text.data()[end - 1] == '\r');
}

RecordGrid::Replacement RecordGrid::replacementFor(std::size_t number, const FieldValues& values) const
{
    Replacement change;
    // A record that shares a line with its neighbour reads differently away from it (after a trailing
    // comma, a line end is an empty item), so the neighbour is written item by item with it.
    change.firstRecord = number;
    while (change.firstRecord > 1 && !startsALine(change.firstRecord))
        --change.firstRecord;
    change.lastRecord = number;
    while (change.lastRecord < recordCount() && !endsALine(change.lastRecord))
        ++change.lastRecord;
    change.from = recordStart(change.firstRecord);
    if (change.from == 0 && text().starts_with(kByteOrderMark))
        change.from = kByteOrderMark.size();
    change.to = recordEnd(change.lastRecord);

    for (std::size_t r = change.firstRecord; r <= change.lastRecord; ++r) {
        const RecordItems found = itemsOf(r);
        for (int f = 0; f < kFieldCount; ++f) {
            if (r == number && values[f])
                appendItem(change.lines, *values[f]);
            else if (f < found.count)
                appendItemAsRead(change.lines, found.items[f]); // kept byte for byte
            else
                appendItem(change.lines, {}); // a field the incomplete last record lacks
        }
        change.recordEnds.push_back(change.lines.size());
    }
    return change;
}

std::array<std::string_view, 3> RecordGrid::textWith(const Replacement& change) const
{
    return {text().substr(0, change.from), change.lines, text().substr(change.to)};
}

void RecordGrid::apply(const Replacement& change)
{
    std::size_t oldItems = 0;
    for (std::size_t r = change.firstRecord; r <= change.lastRecord; ++r)
        oldItems += static_cast<std::size_t>(itemsOf(r).count);
    m_cachedNumber = 0;
    m_text.replace(change.from, change.to, change.lines);
    m_itemCount = m_itemCount - oldItems + (change.lastRecord - change.firstRecord + 1) * kFieldCount;

    // Each rewritten record ends after its fourth item line; later records move with the text.
    for (std::size_t r = change.firstRecord; r <= change.lastRecord; ++r)
        m_recordEnds[r - 1] = change.from + change.recordEnds[r - change.firstRecord];
    const std::size_t oldEnd = change.to;
    const std::size_t newEnd = change.from + change.lines.size();
    for (std::size_t r = change.lastRecord; r < m_recordEnds.size(); ++r)
        m_recordEnds[r] = m_recordEnds[r] - oldEnd + newEnd; // the flag in the top bit stays as it is
}

} // namespace tesselby
