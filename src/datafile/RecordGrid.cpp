#include "RecordGrid.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "ItemWriter.h"

namespace tesselby {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::uint32_t spanLength(std::size_t length)
{
    // An item the index cannot hold is refused like a file too large to open.
    if (length > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("item too large to index");
    return static_cast<std::uint32_t>(length);
}

} // namespace

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
    Record result;
    if (number == 0)
        return result;
    const std::size_t first = (number - 1) * kFieldCount;
    for (std::size_t f = 0; f < kFieldCount && first + f < m_items.size(); ++f)
        result[f] = decodeItem(rawItem(first + f));
    return result;
}

ValueStart RecordGrid::fieldStart(std::size_t number, int field, std::size_t maxBytes) const
{
    const std::size_t index = (number - 1) * kFieldCount + static_cast<std::size_t>(field);
    if (number == 0 || number > recordCount() || index >= m_items.size())
        return {};
    return valueStart(rawItem(index), maxBytes);
}

bool RecordGrid::sameItem(std::size_t number, int field, const RecordGrid& other, std::size_t otherNumber) const
{
    if (number == 0 || number > recordCount() || otherNumber == 0 || otherNumber > other.recordCount())
        return false;
    const std::size_t mine = (number - 1) * kFieldCount + static_cast<std::size_t>(field);
    const std::size_t theirs = (otherNumber - 1) * kFieldCount + static_cast<std::size_t>(field);
    const bool haveMine = mine < m_items.size();
    const bool haveTheirs = theirs < other.m_items.size();
    // A missing item reads as empty, as the add that completes its record writes it.
    if (!haveMine && !haveTheirs)
        return true;
    if (!haveMine || !haveTheirs)
        return (haveMine ? rawItem(mine) : other.rawItem(theirs)).raw.empty();
    const RawItem a = rawItem(mine);
    const RawItem b = other.rawItem(theirs);
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
    return start == 0 || m_text[start - 1] == '\n' || m_text[start - 1] == '\r';
}

bool RecordGrid::endsALine(std::size_t number) const
{
    const std::size_t end = m_recordEnds[number - 1];
    return end > 0 && (m_text[end - 1] == '\n' || m_text[end - 1] == '\r');
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
    if (change.from == 0 && m_text.starts_with(kByteOrderMark))
        change.from = kByteOrderMark.size();
    change.to = m_recordEnds[change.lastRecord - 1];

    for (std::size_t r = change.firstRecord; r <= change.lastRecord; ++r) {
        for (int f = 0; f < kFieldCount; ++f) {
            const std::size_t index = (r - 1) * kFieldCount + static_cast<std::size_t>(f);
            const std::size_t lineStart = change.lines.size();
            bool doubled = false;
            if (r == number && values[f]) {
                appendItem(change.lines, *values[f]);
                doubled = values[f]->find('"') != std::string::npos;
            } else if (index < m_items.size()) {
                // Kept byte for byte; the last record may also lack its closing quote or line end.
                const RawItem item = rawItem(index);
                appendItemAsRead(change.lines, item);
                doubled = item.doubledQuotes || (!item.quoted && item.raw.find('"') != std::string_view::npos);
            } else {
                appendItem(change.lines, {}); // a field the incomplete last record lacks
            }
            change.items.push_back(
                ItemSpan{lineStart + 1, spanLength(change.lines.size() - lineStart - 4), true, doubled});
        }
    }
    return change;
}

std::array<std::string_view, 3> RecordGrid::textWith(const Replacement& change) const
{
    const std::string_view text(m_text);
    return {text.substr(0, change.from), change.lines, text.substr(change.to)};
}

void RecordGrid::apply(const Replacement& change)
{
    const std::size_t oldEnd = change.to;
    const std::size_t newEnd = change.from + change.lines.size();
    m_text.replace(change.from, change.to - change.from, change.lines);

    const auto firstItem = static_cast<std::ptrdiff_t>((change.firstRecord - 1) * kFieldCount);
    const auto oldItems =
        static_cast<std::ptrdiff_t>(std::min(change.lastRecord * kFieldCount, m_items.size())) - firstItem;
    const auto newItems = static_cast<std::ptrdiff_t>(change.items.size());
    // Usually the counts match and the spans are overwritten where they stand.
    if (oldItems > newItems)
        m_items.erase(m_items.begin() + firstItem + newItems, m_items.begin() + firstItem + oldItems);
    else if (oldItems < newItems)
        m_items.insert(m_items.begin() + firstItem + oldItems, static_cast<std::size_t>(newItems - oldItems),
                       ItemSpan{});
    for (std::ptrdiff_t i = 0; i < newItems; ++i) {
        ItemSpan span = change.items[static_cast<std::size_t>(i)];
        span.offset += change.from;
        m_items[static_cast<std::size_t>(firstItem + i)] = span;
    }
    for (std::size_t i = static_cast<std::size_t>(firstItem + newItems); i < m_items.size(); ++i)
        m_items[i].offset = m_items[i].offset - oldEnd + newEnd;

    // Each rewritten record ends after its fourth item line; later records move with the text.
    for (std::size_t r = change.firstRecord; r <= change.lastRecord; ++r) {
        const ItemSpan& last = m_items[r * kFieldCount - 1];
        m_recordEnds[r - 1] = last.offset + last.length + 3; // the closing quote and CR LF
    }
    for (std::size_t r = change.lastRecord; r < m_recordEnds.size(); ++r)
        m_recordEnds[r] = m_recordEnds[r] - oldEnd + newEnd;
}

} // namespace tesselby
