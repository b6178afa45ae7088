#include "RecordSearch.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <functional>
#include <string>

#include "ItemReader.h"
#include "TextEncoding.h"
#include "WrittenLines.h"

namespace tesselby {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Written lines are looked at this much at a time, so that their line ends stay in the cache.
constexpr std::size_t kWindowBytes = 256 * 1024;

bool isAscii(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) & 0x80; });
}

std::size_t findText(std::string_view haystack, std::size_t from, std::string_view needle)
{
#if defined(__GLIBC__)
    const void* hit = memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
#else
    return haystack.find(needle, from);
#endif
}

// Whether one item holds the text, by the rule of the whole search.
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
    std::string_view m_needle;
    bool m_needleIsAscii;
    std::string m_scratch; // reused, so testing an item needs no allocation of its own
};

} // namespace

// One search's progress through the list.
struct RecordSearch::Pass {
    Pass(int fieldNumber, std::string_view needle, MatchList& found, std::vector<std::uint32_t>& ends)
        : field(fieldNumber - 1), text(needle), matcher(needle), textIsAscii(isAscii(needle)),
          textFitsAValue(needle.find_first_of("\"\r\n") == std::string_view::npos), matches(found), lineEnds(ends)
    {
    }

    // Takes the whole records at the start of bytes and says how many bytes they took; the last bytes
    // of the list are taken whole.
    std::size_t take(std::string_view bytes, bool last);

    // Takes the records at the start of bytes that stand as the program writes them; 0 when none do.
    std::size_t takeWrittenRecords(std::string_view bytes);

    int field;
    std::string_view text;
    FieldMatcher matcher;
    bool textIsAscii;
    // A text with a quote or a line break can stand in no value of a written line.
    bool textFitsAValue;
    MatchList& matches;
    std::vector<std::uint32_t>& lineEnds;
    bool afterComma = false;
};

std::size_t RecordSearch::Pass::take(std::string_view bytes, bool last)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (const std::size_t took = takeWrittenRecords(bytes.substr(at)); took != 0) {
            at += took;
            afterComma = false;
            continue;
        }
        ItemScanner scanner(bytes.substr(at), false, afterComma);
        std::array<RawItem, kFieldCount> record;
        int filled = 0;
        while (filled < kFieldCount && scanner.next(record[filled]))
            ++filled;
        // A record that reaches the end of what was read may go on in the next read.
        if (!last && scanner.offset() == bytes.size() - at)
            return at;
        if (filled < kFieldCount)
            return bytes.size();
        if (matcher.matches(record[field]))
            matches.addItems(record);
        at += scanner.offset();
        afterComma = scanner.afterComma();
    }
    return at;
}

std::size_t RecordSearch::Pass::takeWrittenRecords(std::string_view bytes)
{
    std::string_view window = bytes.substr(0, kWindowBytes);
    // Values not in UTF-8 are searched for a non-ASCII text decoded, item by item.
    if (!textIsAscii)
        window = window.substr(0, validUtf8Prefix(window));
    if (lineEnds.size() < writtenLinesRoom(window.size()))
        lineEnds.resize(writtenLinesRoom(kWindowBytes));
    const std::uint32_t* ends = lineEnds.data();
    const WrittenLines lines = scanWrittenLines(window, lineEnds.data());
    const std::size_t records = lines.lines / kFieldCount;
    auto lineStart = [ends](std::size_t line) -> std::size_t { return line == 0 ? 0 : ends[line - 1] + 1; };
    auto recordEnd = [ends](std::size_t record) -> std::size_t { return ends[record * kFieldCount - 1] + 1; };
    if (records == 0)
        return 0;
    const std::size_t taken = recordEnd(records);
    auto add = [&](std::size_t record) {
        const std::size_t start = lineStart(record * kFieldCount);
        matches.addWrittenLines(window.substr(start, recordEnd(record + 1) - start));
    };

    if (text.empty()) {
        // An empty text matches every value that is not empty: a line longer than its quotes and CR LF.
        for (std::size_t r = 0; r < records; ++r) {
            const std::size_t line = r * kFieldCount + static_cast<std::size_t>(field);
            if (ends[line] + 1 - lineStart(line) > 4)
                add(r);
        }
        return taken;
    }
    if (!textFitsAValue)
        return taken;
    const std::uint32_t* const linesEnd = ends + records * kFieldCount;
    const std::string_view searched = window.substr(0, taken);
    std::size_t line = 0;
    for (std::size_t from = 0; from < taken;) {
        const std::size_t hit = findText(searched, from, text);
        if (hit == std::string_view::npos)
            break;
        // No value of a written line holds a quote or a line break, so the hit lies in one value.
        line = static_cast<std::size_t>(std::upper_bound(ends + line, linesEnd, hit) - ends);
        if (line % kFieldCount == static_cast<std::size_t>(field)) {
            const std::size_t record = line / kFieldCount;
            add(record);
            line = (record + 1) * kFieldCount;
        } else {
            ++line;
        }
        from = lineStart(line);
    }
    return taken;
}

RecordSearch::RecordSearch(std::size_t chunkBytes) : m_chunkBytes(std::max<std::size_t>(chunkBytes, 1)) {}

Status RecordSearch::run(const ByteSource& source, int field, std::string_view text, MatchList& matches)
{
    assert(field >= 1 && field <= kFieldCount);
    matches.clear();
    Pass pass(field, text, matches, m_lineEnds);
    m_buffer.resize(m_chunkBytes);
    std::size_t used = 0;
    bool atFileStart = true;
    for (;;) {
        // A record longer than the buffer makes it grow until the record fits.
        if (used == m_buffer.size())
            m_buffer.resize(m_buffer.size() * 2);
        const Result<std::size_t> got = source(m_buffer.data() + used, m_buffer.size() - used);
        if (!got) {
            matches.clear();
            return got.error();
        }
        const bool last = got.value() == 0;
        used += got.value();
        std::size_t start = 0;
        if (atFileStart) {
            if (used < kByteOrderMark.size() && !last)
                continue;
            atFileStart = false;
            if (m_buffer.view().substr(0, used).starts_with(kByteOrderMark))
                start = kByteOrderMark.size();
        }
        const std::size_t took = pass.take(std::string_view(m_buffer.data() + start, used - start), last);
        if (last)
            break;
        const std::size_t rest = used - start - took;
        std::memmove(m_buffer.data(), m_buffer.data() + start + took, rest);
        used = rest;
    }
    if (m_buffer.size() > m_chunkBytes) {
        m_buffer.resize(m_chunkBytes);
        m_buffer.releaseUnused();
    }
    matches.releaseUnused();
    return {};
}

MatchList searchText(std::string_view fileText, int field, std::string_view text, std::size_t chunkBytes)
{
    MatchList matches;
    RecordSearch search(chunkBytes);
    (void)search.run(
        [&fileText](char* into, std::size_t room) -> Result<std::size_t> {
            const std::size_t part = std::min(room, fileText.size());
            if (part != 0)
                std::memcpy(into, fileText.data(), part);
            fileText.remove_prefix(part);
            return part;
        },
        field, text, matches);
    return matches;
}

} // namespace tesselby
