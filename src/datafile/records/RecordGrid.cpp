#include "records/RecordGrid.h"

#include <algorithm>
#include <utility>

#include "format/ItemWriter.h"
#include "format/TextEncoding.h"

namespace tesselby {

// Notes where each record ends as the list streams in.
class RecordGrid::Indexer : public RecordStream::Visitor {
public:
    explicit Indexer(RecordGrid& grid) : m_grid(grid) {}

    void writtenRecords(const RecordStream::WrittenWindow& window) override
    {
        for (std::size_t r = 0; r < window.records; ++r)
            m_grid.m_recordEnds.push_back((window.offset + window.recordEnds[r] + 1) | kEndsALine);
        m_grid.m_itemCount += window.records * kFieldCount;
    }

    void readRecord(const std::array<RawItem, kFieldCount>&, int count, std::string_view bytes, std::uint64_t offset,
                    bool afterComma) override
    {
        m_grid.m_itemCount += static_cast<std::size_t>(count);
        // A record ends a line when its last byte is a line end; an empty one, where the one before it did.
        const bool endsALine = bytes.empty() ? !m_grid.m_recordEnds.empty() && (m_grid.m_recordEnds.back() & kEndsALine)
                                             : bytes.back() == '\n' || bytes.back() == '\r';
        m_grid.m_recordEnds.push_back((offset + bytes.size()) | (afterComma ? kAfterComma : 0) |
                                      (endsALine ? kEndsALine : 0));
    }

private:
    RecordGrid& m_grid;
};

RecordGrid::RecordGrid(RecordGrid&& other) noexcept
    : m_text(std::move(other.m_text)), m_byteOrderMark(other.m_byteOrderMark),
      m_recordEnds(std::move(other.m_recordEnds)), m_itemCount(std::exchange(other.m_itemCount, 0))
{
    other.forgetCache();
}

RecordGrid& RecordGrid::operator=(RecordGrid&& other) noexcept
{
    m_text = std::move(other.m_text);
    m_byteOrderMark = other.m_byteOrderMark;
    m_recordEnds = std::move(other.m_recordEnds);
    m_itemCount = std::exchange(other.m_itemCount, 0);
    forgetCache();
    other.forgetCache();
    return *this;
}

Result<RecordGrid> RecordGrid::read(const ByteSource& source, std::size_t expectedBytes)
{
    RecordGrid grid;
    // No record is shorter than four one-byte items, so the index never grows while it is built; the
    // part it does not fill is never touched and costs no memory.
    grid.m_recordEnds.reserve(expectedBytes / 8 + 1);
    // What streams through the index goes into the copy as it passes.
    const ByteSource keeping = [&source, &grid](char* into, std::size_t room) -> Result<std::size_t> {
        Result<std::size_t> got = source(into, room);
        if (got)
            grid.m_text.append(std::string_view(into, got.value()));
        return got;
    };
    Indexer indexer(grid);
    RecordStream stream;
    const Result<bool> walked = stream.walk(keeping, indexer);
    if (!walked)
        return walked.error();
    grid.m_byteOrderMark = walked.value();
    return grid;
}

RecordGrid RecordGrid::fromText(std::string_view text)
{
    // Reading from memory cannot fail.
    return std::move(read(sourceOf(text), text.size()).value());
}

std::string RecordGrid::text() const
{
    std::string whole;
    m_text.read(0, m_text.size(), whole);
    return whole;
}

RecordGrid::RecordItems RecordGrid::itemsOf(std::size_t number, std::string& bytes) const
{
    const std::size_t start = recordStart(number);
    m_text.read(start, recordEnd(number) - start, bytes);
    const bool afterComma = number > 1 && (m_recordEnds[number - 2] & kAfterComma) != 0;
    ItemScanner scanner(bytes, number == 1, afterComma);
    RecordItems found;
    while (found.count < kFieldCount && scanner.next(found.items[found.count]))
        ++found.count;
    return found;
}

void RecordGrid::forgetCache() const
{
    for (CachedRecord& cached : m_cache)
        cached.number = 0;
}

const RecordGrid::RecordItems& RecordGrid::itemsOf(std::size_t number) const
{
    for (std::size_t slot = 0; slot < m_cache.size(); ++slot) {
        if (m_cache[slot].number == number) {
            m_cacheNext = 1 - slot; // the one asked for last is kept longest
            return m_cache[slot].items;
        }
    }
    CachedRecord& slot = m_cache[m_cacheNext];
    m_cacheNext = 1 - m_cacheNext;
    slot.number = 0;
    slot.items = itemsOf(number, slot.bytes);
    slot.number = number;
    return slot.items;
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

ValueStart RecordGrid::fieldStart(std::size_t number, Field field, std::size_t maxBytes) const
{
    if (number == 0 || number > recordCount())
        return {};
    const RecordItems& found = itemsOf(number);
    if (fieldIndex(field) >= static_cast<std::size_t>(found.count))
        return {};
    return valueStart(found.items[fieldIndex(field)], maxBytes);
}

bool RecordGrid::sameItem(std::size_t number, Field field, const RecordGrid& other, std::size_t otherNumber) const
{
    if (number == 0 || number > recordCount() || otherNumber == 0 || otherNumber > other.recordCount())
        return false;
    // Both stay cached while compared, even when other is this grid.
    const RecordItems& mine = itemsOf(number);
    const RecordItems& theirs = other.itemsOf(otherNumber);
    const std::size_t f = fieldIndex(field);
    const bool haveMine = f < static_cast<std::size_t>(mine.count);
    const bool haveTheirs = f < static_cast<std::size_t>(theirs.count);
    // A missing item reads as empty, as the add that completes its record writes it.
    if (!haveMine && !haveTheirs)
        return true;
    if (!haveMine || !haveTheirs)
        return (haveMine ? mine : theirs).items[f].raw.empty();
    const RawItem& a = mine.items[f];
    const RawItem& b = theirs.items[f];
    if (a.quoted == b.quoted && a.raw == b.raw)
        return true;
    // Written again with other quotes or in another character set, it is still the same value.
    return decodeItem(a) == decodeItem(b);
}

bool RecordGrid::sameRecord(std::size_t number, const RecordGrid& other, std::size_t otherNumber) const
{
    for (const Field field : kFields) {
        if (!sameItem(number, field, other, otherNumber))
            return false;
    }
    return true;
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
    if (change.from == 0 && m_byteOrderMark)
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

std::uint64_t RecordGrid::sizeWith(const Replacement& change) const
{
    return m_text.size() - (change.to - change.from) + change.lines.size();
}

Status RecordGrid::writeWith(const Replacement& change, ByteSink& sink) const
{
    if (Status before = m_text.writeTo(sink, 0, change.from); !before)
        return before;
    if (Status lines = sink.write(change.lines); !lines)
        return lines;
    return m_text.writeTo(sink, change.to, m_text.size() - change.to);
}

void RecordGrid::apply(const Replacement& change)
{
    std::size_t oldItems = 0;
    for (std::size_t r = change.firstRecord; r <= change.lastRecord; ++r)
        oldItems += static_cast<std::size_t>(itemsOf(r).count);
    forgetCache();
    m_text.replace(change.from, change.to, change.lines);
    m_itemCount = m_itemCount - oldItems + (change.lastRecord - change.firstRecord + 1) * kFieldCount;

    // Each rewritten record ends after its fourth item line; later records move with the text.
    std::vector<std::size_t> rewritten;
    for (std::size_t end : change.recordEnds)
        rewritten.push_back((change.from + end) | kEndsALine);
    m_recordEnds.rewrite(change.firstRecord - 1, rewritten, change.to, change.from + change.lines.size());
}

} // namespace tesselby
