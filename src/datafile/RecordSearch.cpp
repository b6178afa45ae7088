#include "RecordSearch.h"

#include <array>
#include <cassert>

#include "ItemReader.h"
#include "TextEncoding.h"

namespace tesselby {

namespace {

class FieldMatcher {
public:
    explicit FieldMatcher(std::string_view needle) : m_needle(needle), m_needleIsAscii(isAscii(needle)) {}

    bool matches(const RawItem& item)
    {
        if (item.raw.empty())
            return false;
        if (m_needle.empty())
            return true;
        // Bytes of an ASCII needle line up with the same characters whatever the item's encoding, so
        // the raw bytes can be searched unless quotes were escaped in them.
        if (!item.doubledQuotes && (m_needleIsAscii || isValidUtf8(item.raw)))
            return item.raw.find(m_needle) != std::string_view::npos;
        m_scratch.clear();
        appendDecodedItem(m_scratch, item);
        return m_scratch.find(m_needle) != std::string::npos;
    }

private:
    static bool isAscii(std::string_view text)
    {
        for (const char c : text) {
            if (static_cast<unsigned char>(c) & 0x80)
                return false;
        }
        return true;
    }

    std::string_view m_needle;
    bool m_needleIsAscii;
    std::string m_scratch; // reused, so testing an item needs no allocation of its own
};

} // namespace

std::vector<Record> searchRecords(std::string_view fileText, int field, std::string_view needle)
{
    assert(field >= 1 && field <= kFieldCount);
    std::vector<Record> matches;
    FieldMatcher matcher(needle);
    ItemScanner scanner(fileText);
    std::array<RawItem, kFieldCount> record;
    int filled = 0;
    while (scanner.next(record[filled])) {
        if (++filled < kFieldCount)
            continue;
        filled = 0;
        if (!matcher.matches(record[field - 1]))
            continue;
        Record& match = matches.emplace_back();
        for (int f = 0; f < kFieldCount; ++f)
            match[f] = decodeItem(record[f]);
    }
    return matches;
}

} // namespace tesselby
