#include "records/RecordSearch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <string>

#include "format/ItemScanner.h"
#include "format/TextEncoding.h"
#include "records/ProcessorFeatures.h"

namespace tesselby {

namespace {

bool isAscii(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) & 0x80; });
}

std::size_t findPortably(std::string_view haystack, std::size_t from, std::string_view needle)
{
#if defined(__GLIBC__)
    const void* hit = memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
#else
    return haystack.find(needle, from);
#endif
}

#if TESSELBY_HAVE_AVX2
// Tests 32 places at once for the text's first and last byte, and only those with both for the rest.
__attribute__((target("avx2"))) std::size_t findWide(std::string_view haystack, std::size_t from,
                                                     std::string_view needle)
{
    const std::size_t last = needle.size() - 1;
    const __m256i first = _mm256_set1_epi8(needle.front());
    const __m256i final = _mm256_set1_epi8(needle.back());
    std::size_t at = from;
    for (; at + last + 32 <= haystack.size(); at += 32) {
        const __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(haystack.data() + at));
        const __m256i ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(haystack.data() + at + last));
        auto both = std::uint32_t(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(starts, first), _mm256_cmpeq_epi8(ends, final))));
        while (both != 0) {
            const std::size_t place = at + static_cast<unsigned>(std::countr_zero(both));
            if (std::memcmp(haystack.data() + place + 1, needle.data() + 1, last > 0 ? last - 1 : 0) == 0)
                return place;
            both &= both - 1;
        }
    }
    return findPortably(haystack, at, needle);
}
#endif

std::size_t findText(std::string_view haystack, std::size_t from, std::string_view needle)
{
#if TESSELBY_HAVE_AVX2
    if (useAvx2AndBmi2() && needle.size() > 1)
        return findWide(haystack, from, needle);
#endif
    return findPortably(haystack, from, needle);
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
    SearchVisitor(Field field, std::string_view text, MatchList& matches)
        : m_field(field), m_text(text), m_matcher(text),
          m_textFitsAValue(text.find_first_of("\"\r\n") == std::string_view::npos), m_matches(matches)
    {
    }

    void writtenRecords(const RecordStream::WrittenWindow& window) override;
    void readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view, std::uint64_t,
                    bool) override
    {
        if (count == kFieldCount && m_matcher.matches(items[fieldIndex(m_field)]))
            m_matches.addItems(items);
    }

private:
    Field m_field;
    std::string_view m_text;
    FieldMatcher m_matcher;
    // A text with a quote or a line break can stand in no value of a written line.
    bool m_textFitsAValue;
    MatchList& m_matches;
};

// Where the line of field starts in a written record.
std::size_t fieldStart(std::string_view record, Field field)
{
    std::size_t at = 0;
    for (std::size_t line = 0; line < fieldIndex(field); ++line)
        at = record.find('\n', at) + 1;
    return at;
}

void SearchVisitor::writtenRecords(const RecordStream::WrittenWindow& window)
{
    if (m_text.empty()) {
        // An empty text matches every value that is not empty: a line whose opening quote is not
        // followed at once by the closing one.
        for (std::size_t r = 0; r < window.records; ++r) {
            const std::string_view record = window.record(r);
            if (record[fieldStart(record, m_field) + 1] != '"')
                m_matches.addWrittenLines(record);
        }
        return;
    }
    if (!m_textFitsAValue)
        return;
    if (window.marked != nullptr) {
        // A one-byte text: the walk has marked the records that hold it.
        for (std::size_t m = 0; m < window.markedCount; ++m)
            m_matches.addWrittenLines(window.record(window.marked[m]));
        return;
    }
    const std::uint32_t* const ends = window.recordEnds;
    const std::string_view searched = window.bytes;
    std::size_t record = 0;
    for (std::size_t from = 0; from < searched.size();) {
        const std::size_t hit = findText(searched, from, m_text);
        if (hit == std::string_view::npos)
            break;
        // No value of a written line holds a quote or a line break, so the hit lies in one value.
        // Hits of a common text are near each other: gallop from the last one before halving.
        std::size_t step = 1;
        while (record + step < window.records && ends[record + step] < hit)
            step *= 2;
        record = static_cast<std::size_t>(
            std::upper_bound(ends + record + step / 2, ends + std::min(window.records, record + step + 1), hit) - ends);
        const std::size_t start = window.recordStart(record);
        const std::string_view bytes = window.record(record);
        std::size_t line = 0;
        std::size_t lineEnd = bytes.find('\n');
        while (start + lineEnd < hit) {
            ++line;
            lineEnd = bytes.find('\n', lineEnd + 1);
        }
        if (line == fieldIndex(m_field)) {
            m_matches.addWrittenLines(bytes);
            from = start + bytes.size();
            ++record;
        } else {
            from = start + lineEnd + 1;
        }
    }
}

} // namespace

RecordSearch::RecordSearch(std::size_t chunkBytes) : m_stream(chunkBytes) {}

Status RecordSearch::run(const ByteSource& source, Field field, std::string_view text, MatchList& matches)
{
    matches.clear();
    SearchVisitor visitor(field, text, matches);
    // Values not in UTF-8 are searched for a non-ASCII text decoded, item by item.
    WalkOptions options;
    options.writtenOnlyInUtf8 = !isAscii(text);
    // The one-byte texts, so often typed to narrow a list down, are looked for in the same pass that
    // finds where the records end.
    if (text.size() == 1 && text.find_first_of("\"\r\n") == std::string_view::npos)
        options.mark = MarkedByte{text.front(), field};
    const Result<bool> walked = m_stream.walk(source, visitor, options);
    if (!walked) {
        matches.clear();
        return walked.error();
    }
    return {};
}

MatchList searchText(std::string_view fileText, Field field, std::string_view text, std::size_t chunkBytes)
{
    MatchList matches;
    RecordSearch search(chunkBytes);
    (void)search.run(sourceOf(fileText), field, text, matches);
    return matches;
}

} // namespace tesselby
