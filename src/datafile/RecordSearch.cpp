#include "RecordSearch.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <functional>
#include <string>

#include "ItemReader.h"
#include "TextEncoding.h"

namespace tesselby {

namespace {

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


// Keeps the records whose field holds the text.
class SearchVisitor : public RecordStream::Visitor {
public:
    SearchVisitor(int field, std::string_view text, MatchList& matches)
        : m_field(field - 1), m_text(text), m_matcher(text),
          m_textFitsAValue(text.find_first_of("\"\r\n") == std::string_view::npos), m_matches(matches)
    {
    }

    void writtenRecords(std::string_view bytes, const std::uint32_t* ends, std::size_t records,
                        std::uint64_t) override;
    void readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view, std::uint64_t,
                    bool) override
    {
        if (count == kFieldCount && m_matcher.matches(items[m_field]))
            m_matches.addItems(items);
    }

private:
    int m_field;
    std::string_view m_text;
    FieldMatcher m_matcher;
    // A text with a quote or a line break can stand in no value of a written line.
    bool m_textFitsAValue;
    MatchList& m_matches;
};

void SearchVisitor::writtenRecords(std::string_view bytes, const std::uint32_t* ends, std::size_t records,
                                   std::uint64_t)
{
    auto lineStart = [ends](std::size_t line) -> std::size_t { return line == 0 ? 0 : ends[line - 1] + 1; };
    auto add = [&](std::size_t record) {
        const std::size_t start = lineStart(record * kFieldCount);
        m_matches.addWrittenLines(bytes.substr(start, ends[record * kFieldCount + kFieldCount - 1] + 1 - start));
    };
    if (m_text.empty()) {
        // An empty text matches every value that is not empty: a line longer than its quotes and CR LF.
        for (std::size_t r = 0; r < records; ++r) {
            const std::size_t line = r * kFieldCount + static_cast<std::size_t>(m_field);
            if (ends[line] + 1 - lineStart(line) > 4)
                add(r);
        }
        return;
    }
    if (!m_textFitsAValue)
        return;
    const std::uint32_t* const linesEnd = ends + records * kFieldCount;
    const std::size_t taken = lineStart(records * kFieldCount);
    const std::string_view searched = bytes.substr(0, taken);
    std::size_t line = 0;
    for (std::size_t from = 0; from < taken;) {
        const std::size_t hit = findText(searched, from, m_text);
        if (hit == std::string_view::npos)
            break;
        // No value of a written line holds a quote or a line break, so the hit lies in one value.
        line = static_cast<std::size_t>(std::upper_bound(ends + line, linesEnd, hit) - ends);
        if (line % kFieldCount == static_cast<std::size_t>(m_field)) {
            const std::size_t record = line / kFieldCount;
            add(record);
            line = (record + 1) * kFieldCount;
        } else {
            ++line;
        }
        from = lineStart(line);
    }
}

} // namespace

RecordSearch::RecordSearch(std::size_t chunkBytes) : m_stream(chunkBytes) {}

Status RecordSearch::run(const ByteSource& source, int field, std::string_view text, MatchList& matches)
{
    assert(field >= 1 && field <= kFieldCount);
    matches.clear();
    SearchVisitor visitor(field, text, matches);
    // Values not in UTF-8 are searched for a non-ASCII text decoded, item by item.
    const Result<bool> walked = m_stream.walk(source, visitor, !isAscii(text));
    if (!walked) {
        matches.clear();
        return walked.error();
    }
    return {};
}

MatchList searchText(std::string_view fileText, int field, std::string_view text, std::size_t chunkBytes)
{
    MatchList matches;
    RecordSearch search(chunkBytes);
    (void)search.run(sourceOf(fileText), field, text, matches);
    return matches;
}

} // namespace tesselby
