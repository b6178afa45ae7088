#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "format/TextEncoding.h"

namespace tesselby {

// One item as it stands in the file: the bytes of its value before unescaping and decoding.
struct RawItem {
    std::string_view raw;
    bool quoted = false;
    bool doubledQuotes = false; // raw holds "" pairs that stand for one quote each
};

// Walks the items of a file's text without copying them. Tolerates anything a person or another
// program may have left in the file: blank lines, several items on a line, unquoted items, any line
// end, a missing final line end, a byte-order mark, an unterminated quote.
class ItemScanner {
public:
    // A scan may start partway into a file (atFileStart false: no byte-order mark is looked for), right
    // after a comma that ended an item.
    explicit ItemScanner(std::string_view text, bool atFileStart = true, bool afterComma = false);

    // Fills item and returns true, or returns false at the end of the text.
    bool next(RawItem& item);

    // Where the scan stands, as an offset into the text given to the constructor.
    std::size_t offset() const { return static_cast<std::size_t>(m_pos - m_begin); }
    // Whether the last item ended in a comma, so that a line end next stands for an empty item.
    bool afterComma() const { return m_afterComma; }

private:
    void scanQuoted(RawItem& item);
    void scanUnquoted(RawItem& item);
    void skipRestOfItem();
    void skipLineEnd();

    const char* m_begin;
    const char* m_pos;
    const char* m_end;
    bool m_afterComma = false;
};

// The value an item stands for, as UTF-8: doubled quotes undone, and Windows-1252 bytes of older
// files turned into UTF-8 when the item is not valid UTF-8 already.
std::string decodeItem(const RawItem& item);
void appendDecodedItem(std::string& out, const RawItem& item);

// The beginning of an item's value, for showing: the value of at most maxBytes of its stored bytes,
// cut where no character or quote pair is split.
struct ValueStart {
    std::string text;
    bool cut = false;
    std::size_t storedBytes = 0;
};
ValueStart valueStart(RawItem item, std::size_t maxBytes);

inline ItemScanner::ItemScanner(std::string_view text, bool atFileStart, bool afterComma)
    : m_begin(text.data()), m_pos(text.data()), m_end(text.data() + text.size()), m_afterComma(afterComma)
{
    if (atFileStart && text.starts_with(kByteOrderMark))
        m_pos += kByteOrderMark.size();
}

inline bool ItemScanner::next(RawItem& item)
{
    for (;;) {
        while (m_pos != m_end && (*m_pos == ' ' || *m_pos == '\t'))
            ++m_pos;
        const bool afterComma = m_afterComma;
        m_afterComma = false;
        if (m_pos == m_end || *m_pos == '\r' || *m_pos == '\n') {
            if (afterComma) {
                // "a," ends with an empty item, which takes the line end with it so that a record
                // ending in it ends at a line end.
                item = RawItem{std::string_view(m_pos, 0), false, false};
                if (m_pos != m_end)
                    skipLineEnd();
                return true;
            }
            if (m_pos == m_end)
                return false;
            skipLineEnd(); // a blank line holds no item
            continue;
        }
        if (*m_pos == '"')
            scanQuoted(item);
        else
            scanUnquoted(item);
        skipRestOfItem();
        return true;
    }
}

inline void ItemScanner::scanQuoted(RawItem& item)
{
    const char* start = ++m_pos;
    bool doubled = false;
    for (;;) {
        const auto* quote = static_cast<const char*>(std::memchr(m_pos, '"', static_cast<std::size_t>(m_end - m_pos)));
        if (quote == nullptr) {
            m_pos = m_end; // an unterminated quote runs to the end of the file
            break;
        }
        if (quote + 1 != m_end && quote[1] == '"') {
            doubled = true;
            m_pos = quote + 2;
            continue;
        }
        item = RawItem{std::string_view(start, static_cast<std::size_t>(quote - start)), true, doubled};
        m_pos = quote + 1;
        return;
    }
    item = RawItem{std::string_view(start, static_cast<std::size_t>(m_end - start)), true, doubled};
}

inline void ItemScanner::scanUnquoted(RawItem& item)
{
    const char* start = m_pos;
    while (m_pos != m_end && *m_pos != ',' && *m_pos != '\r' && *m_pos != '\n')
        ++m_pos;
    const char* last = m_pos;
    while (last != start && (last[-1] == ' ' || last[-1] == '\t'))
        --last;
    item = RawItem{std::string_view(start, static_cast<std::size_t>(last - start)), false, false};
}

inline void ItemScanner::skipRestOfItem()
{
    if (m_end - m_pos >= 2 && m_pos[0] == '\r' && m_pos[1] == '\n') {
        m_pos += 2; // the line end the program itself writes
        return;
    }
    while (m_pos != m_end && *m_pos != ',' && *m_pos != '\r' && *m_pos != '\n')
        ++m_pos;
    if (m_pos == m_end)
        return;
    if (*m_pos == ',') {
        ++m_pos;
        m_afterComma = true;
        return;
    }
    skipLineEnd();
}

inline void ItemScanner::skipLineEnd()
{
    if (*m_pos == '\r') {
        ++m_pos;
        if (m_pos != m_end && *m_pos == '\n')
            ++m_pos;
    } else if (*m_pos == '\n') {
        ++m_pos;
    }
}

} // namespace tesselby
