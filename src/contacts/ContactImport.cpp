#include "ContactImport.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "CsvReader.h"
#include "ImportMapping.h"
#include "TextDecoding.h"
#include "VCardReader.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace tesselby {

namespace {

// A card or row taken: the person, or why it was skipped.
void take(Result<Record, ContactProblem> mapped, ContactsRead& read)
{
    if (mapped)
        read.records.push_back(std::move(mapped.value()));
    else
        read.problems.push_back(mapped.error());
}

template <typename Source, typename Map> void mapAll(const Source& items, ContactsRead& read, Map map)
{
    for (const auto& item : items)
        take(map(item), read);
}

// The lines a broken character was found on, and which of them a skipped card or row has reported:
// each card or row holding one is skipped and reported once, at its first broken line; a broken
// character outside every one of them is reported on its own.
class BrokenLines {
public:
    explicit BrokenLines(const std::vector<ContactProblem>& broken) : m_broken(broken), m_reported(broken.size()) {}

    // Whether the card or row on lines first to last holds a broken character; if so, it is reported.
    bool skip(std::size_t first, std::size_t last, const char* itemName, std::vector<ContactProblem>& problems)
    {
        const auto from =
            std::lower_bound(m_broken.begin(), m_broken.end(), first,
                             [](const ContactProblem& problem, std::size_t line) { return problem.line < line; });
        auto within = from;
        for (; within != m_broken.end() && within->line <= last; ++within)
            m_reported[static_cast<std::size_t>(within - m_broken.begin())] = true;
        if (within == from)
            return false;
        problems.push_back({from->line, from->message + "; the " + itemName + " that starts on line " +
                                            std::to_string(first) + " was skipped"});
        return true;
    }

    void reportTheRest(std::vector<ContactProblem>& problems) const
    {
        for (std::size_t i = 0; i < m_broken.size(); ++i)
            if (!m_reported[i])
                problems.push_back(m_broken[i]);
    }

private:
    const std::vector<ContactProblem>& m_broken;
    std::vector<bool> m_reported;
};

void inLineOrder(std::vector<ContactProblem>& problems)
{
    std::stable_sort(problems.begin(), problems.end(),
                     [](const ContactProblem& a, const ContactProblem& b) { return a.line < b.line; });
}

// Each card becomes a person as soon as it is read, so that the cards are never all held at once; one
// that holds a broken character is skipped.
std::function<void(const VCard&)> personOfEachCard(ContactsRead& read, BrokenLines* broken = nullptr)
{
    return [&read, broken](const VCard& card) {
        if (broken != nullptr && broken->skip(card.line, card.endLine, "card", read.problems))
            return;
        take(recordFromCard(card, &read.dropped), read);
    };
}

// Whether a text starting so is read as it stands: decoding changes only a text that starts with a
// byte-order mark or the zero bytes of UTF-16.
bool readInPlace(std::string_view text)
{
    const std::string_view start = text.substr(0, 4);
    const DecodedText decoded = decodeFileText(start);
    return decoded.broken.empty() && decoded.text == start;
}

void reserveFor(ContactsRead& read, std::uint64_t expectedBytes)
{
    // Room for the people a file of cards this size usually holds, taken once: only what they fill is
    // memory in use, and none is copied as the list of them grows. Without the room, it grows as it must.
    try {
        read.records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expectedBytes / 160, 1u << 24)));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

// A source read a piece at a time into a buffer that keeps what is not yet parsed.
class Pieces {
public:
    Pieces(ByteSource source, std::size_t pieceBytes)
        : m_source(std::move(source)), m_pieceBytes(std::max<std::size_t>(pieceBytes, 4))
    {
    }

    std::size_t pieceBytes() const { return m_pieceBytes; }
    std::string_view text() const { return {m_buffer.data(), m_held}; }
    std::size_t held() const { return m_held; }
    bool atEnd() const { return m_atEnd; }

    // Reads until at least wanted bytes are held, or the whole source.
    Status fill(std::size_t wanted)
    {
        while (!m_atEnd && m_held < wanted) {
            if (m_buffer.size() < wanted)
                m_buffer.resize(std::max(wanted, m_buffer.size() * 2));
            const Result<std::size_t> got = m_source(m_buffer.data() + m_held, m_buffer.size() - m_held);
            if (!got)
                return got.error();
            m_atEnd = got.value() == 0;
            m_held += got.value();
        }
        return {};
    }

    // Forgets the first bytes, parsed; their room is kept for the next read.
    void drop(std::size_t bytes)
    {
        std::copy(m_buffer.begin() + static_cast<std::ptrdiff_t>(bytes),
                  m_buffer.begin() + static_cast<std::ptrdiff_t>(m_held), m_buffer.begin());
        m_held -= bytes;
    }

private:
    ByteSource m_source;
    std::size_t m_pieceBytes;
    std::string m_buffer;
    std::size_t m_held = 0;
    bool m_atEnd = false;
};

// Parses the cards of pieces, whose first piece is held, a piece at a time to its end.
Status parseCards(Pieces& pieces, VCardParser& parser)
{
    std::size_t scanned = 0; // where a piece's end may still be found in what is held
    for (;;) {
        if (pieces.atEnd()) {
            parser.parse(pieces.text());
            parser.finish();
            return {};
        }
        if (const std::size_t end = VCardParser::cardsEnd(pieces.text(), scanned); end > 0) {
            parser.parse(pieces.text().substr(0, end));
            pieces.drop(end);
            scanned = 0;
        } else {
            // What was looked through is not looked through again: a line that starts before the last
            // few bytes and has not ended is too long to be where a card starts.
            scanned =
                pieces.held() > VCardParser::kLongestCardStart ? pieces.held() - VCardParser::kLongestCardStart : 0;
        }
        if (Status more = pieces.fill(pieces.held() + pieces.pieceBytes()); !more)
            return more.error();
    }
}

constexpr std::uint64_t kToTheEnd = UINT64_MAX;

// The bytes of source from offset up to end, read in order.
ByteSource sequentially(const PlacedByteSource& source, std::uint64_t offset, std::uint64_t end)
{
    return [&source, offset, end](char* into, std::size_t room) mutable -> Result<std::size_t> {
        if (offset >= end)
            return std::size_t(0);
        const Result<std::size_t> got =
            source(offset, into, static_cast<std::size_t>(std::min<std::uint64_t>(room, end - offset)));
        if (got)
            offset += got.value();
        return got;
    };
}

// Reads up to wanted bytes from offset, fewer only at the end.
Result<std::size_t> readFully(const PlacedByteSource& source, std::uint64_t offset, char* into, std::size_t wanted)
{
    std::size_t held = 0;
    while (held < wanted) {
        const Result<std::size_t> got = source(offset + held, into + held, wanted - held);
        if (!got)
            return got.error();
        if (got.value() == 0)
            break;
        held += got.value();
    }
    return held;
}

// Where the first card that may be read on its own (see VCardParser::cardsEnd) starts at middle or
// later; 0 when none does within a few pieces of it, so that a file of one long card is read in one go.
Result<std::uint64_t> secondHalfStart(const PlacedByteSource& source, std::uint64_t middle)
{
    constexpr std::size_t kWindow = std::size_t(64) << 10;
    constexpr std::size_t kFurthest = std::size_t(4) << 20;
    // From three bytes before: the line break before the card, and the "=" the line before it may end in.
    const std::uint64_t base = middle >= 3 ? middle - 3 : 0;
    std::string text;
    while (text.size() < kFurthest) {
        const std::size_t held = text.size();
        text.resize(held + kWindow);
        const Result<std::size_t> got = readFully(source, base + held, text.data() + held, kWindow);
        if (!got)
            return got.error();
        text.resize(held + got.value());
        const std::size_t start = VCardParser::firstCardStart(text, static_cast<std::size_t>(middle - base));
        if (start != std::string_view::npos)
            return base + start;
        if (got.value() < kWindow)
            break;
    }
    return 0;
}

// How many lines end in the first bytes of source: each LF, CR LF or lone CR, as the card reader counts;
// none when the source ends before them (the file shrank).
Result<std::optional<std::size_t>> linesIn(const PlacedByteSource& source, std::uint64_t bytes)
{
    std::string piece(std::size_t(256) << 10, '\0');
    std::size_t lineFeeds = 0, carriageReturns = 0, pairs = 0;
    bool afterReturn = false;
    for (std::uint64_t offset = 0; offset < bytes;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), bytes - offset));
        const Result<std::size_t> got = source(offset, piece.data(), wanted);
        if (!got)
            return got.error();
        if (got.value() == 0)
            return std::optional<std::size_t>();
        const unsigned char* at = reinterpret_cast<const unsigned char*>(piece.data());
        const std::size_t size = got.value();
        pairs += afterReturn && at[0] == '\n';
        // Counted without a branch, so that the compiler does many bytes at once.
        for (std::size_t i = 0; i < size; ++i) {
            lineFeeds += at[i] == '\n';
            carriageReturns += at[i] == '\r';
        }
        for (std::size_t i = 0; i + 1 < size; ++i)
            pairs += (at[i] == '\r') & (at[i + 1] == '\n');
        afterReturn = at[size - 1] == '\r';
        offset += size;
    }
    return std::optional<std::size_t>(lineFeeds + carriageReturns - pairs);
}

// Whether the program may take memory as it needs: under a limit (ulimit -v) an import reads in order,
// which needs the least. A second thread's stack and memory pool stay taken after it ends.
bool memoryUnlimited()
{
#ifdef _WIN32
    return true;
#else
    rlimit limit{};
    return ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
#endif
}

// Reads the cards of source in two halves at once, the second from secondStart, and puts together what
// each read, as one reading in order would have. None when the file ended before secondStart as it was
// read (it shrank meanwhile): what the second half read then lies past where a reading in order stops.
Result<std::optional<ContactsRead>> readInHalves(const PlacedByteSource& source, std::uint64_t secondStart,
                                                 std::size_t pieceBytes, std::uint64_t expectedBytes)
{
    auto second = std::async(std::launch::async, [&]() -> Result<std::optional<ContactsRead>> {
        // Its lines are numbered on from the first half's.
        const Result<std::optional<std::size_t>> linesBefore = linesIn(source, secondStart);
        if (!linesBefore)
            return linesBefore.error();
        if (!linesBefore.value())
            return std::optional<ContactsRead>();
        ContactsRead read;
        reserveFor(read, expectedBytes - std::min(expectedBytes, secondStart));
        VCardParser parser(personOfEachCard(read), read.problems, *linesBefore.value());
        Pieces pieces(sequentially(source, secondStart, kToTheEnd), pieceBytes);
        if (Status readFirst = pieces.fill(pieces.pieceBytes()); !readFirst)
            return readFirst.error();
        if (Status parsed = parseCards(pieces, parser); !parsed)
            return parsed.error();
        return std::optional<ContactsRead>(std::move(read));
    });
    ContactsRead read;
    reserveFor(read, expectedBytes); // room for both halves' people, so that the second joins without a copy
    VCardParser parser(personOfEachCard(read), read.problems);
    std::uint64_t firstBytes = 0;
    Pieces pieces(
        [&firstBytes, from = sequentially(source, 0, secondStart)](char* into,
                                                                   std::size_t room) mutable -> Result<std::size_t> {
            const Result<std::size_t> got = from(into, room);
            if (got)
                firstBytes += got.value();
            return got;
        },
        pieceBytes);
    Status first = pieces.fill(pieces.pieceBytes());
    if (first)
        first = parseCards(pieces, parser);
    Result<std::optional<ContactsRead>> rest = second.get();
    if (!first)
        return first.error();
    if (!rest)
        return rest.error();
    if (!rest.value() || firstBytes < secondStart)
        return std::optional<ContactsRead>();
    ContactsRead& after = *rest.value();
    read.records.append(after.records);
    read.problems.insert(read.problems.end(), after.problems.begin(), after.problems.end());
    for (int kind = 0; kind < kDroppedKinds; ++kind)
        read.dropped.counts[kind] += after.dropped.counts[kind];
    inLineOrder(read.problems);
    return std::optional<ContactsRead>(std::move(read));
}

} // namespace

ContactsRead readVCardContacts(std::string_view text, const std::vector<ContactProblem>& broken)
{
    ContactsRead read;
    BrokenLines brokenLines(broken);
    readVCards(text, personOfEachCard(read, &brokenLines), read.problems);
    brokenLines.reportTheRest(read.problems);
    inLineOrder(read.problems);
    return read;
}

ContactsRead readCsvContacts(std::string_view text, const std::vector<ContactProblem>& broken)
{
    ContactsRead read;
    CsvRead csv = readCsv(text);
    // The columns of a header with a broken character cannot be trusted, nor then any row.
    if (!csv.rows.empty() && !broken.empty() && broken.front().line <= csv.rows.front().endLine) {
        read.problems = {{broken.front().line, broken.front().message + " in the header; nothing was read"}};
        return read;
    }
    const CsvColumns columns = csvColumns(csv.rows.empty() ? std::vector<std::string>{} : csv.rows.front().fields);
    if (csv.rows.empty() || !columns.known()) {
        read.problems = {{csv.rows.empty() ? 1 : csv.rows.front().line,
                          "neither vCards nor CSV whose first line names a column Tesselby knows (First Name, "
                          "Last Name, Name, Company, Phone, E-Mail, ...); nothing was read"}};
        return read;
    }
    read.problems = std::move(csv.problems);
    csv.rows.erase(csv.rows.begin());
    BrokenLines brokenLines(broken);
    std::erase_if(csv.rows,
                  [&](const CsvRow& row) { return brokenLines.skip(row.line, row.endLine, "row", read.problems); });
    brokenLines.reportTheRest(read.problems);
    mapAll(csv.rows, read, [&](const CsvRow& row) { return recordFromRow(columns, row, &read.dropped); });
    inLineOrder(read.problems);
    return read;
}

ContactsRead readContacts(std::string_view bytes)
{
    const bool inPlace = readInPlace(bytes);
    DecodedText decoded;
    if (!inPlace)
        decoded = decodeFileText(bytes);
    const std::string_view text = inPlace ? bytes : std::string_view(decoded.text);
    // An empty file, such as the export of an empty list, holds nobody and nothing wrong.
    if (decoded.broken.empty() && text.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return {};
    return looksLikeVCard(text) ? readVCardContacts(text, decoded.broken) : readCsvContacts(text, decoded.broken);
}

Result<ContactsRead> readContacts(const ByteSource& source, std::size_t pieceBytes, std::uint64_t expectedBytes)
{
    Pieces pieces(source, pieceBytes);
    if (Status read = pieces.fill(pieces.pieceBytes()); !read)
        return read.error();
    // Only cards in UTF-8 stream; anything else is read whole, as it comes.
    if (!readInPlace(pieces.text()) || !looksLikeVCard(pieces.text())) {
        while (!pieces.atEnd())
            if (Status read = pieces.fill(pieces.held() + pieces.pieceBytes()); !read)
                return read.error();
        return readContacts(pieces.text());
    }
    ContactsRead read;
    reserveFor(read, expectedBytes);
    VCardParser parser(personOfEachCard(read), read.problems);
    if (Status parsed = parseCards(pieces, parser); !parsed)
        return parsed.error();
    inLineOrder(read.problems);
    return read;
}

Result<ContactsRead> readContacts(const PlacedByteSource& source, std::size_t pieceBytes, std::uint64_t expectedBytes)
{
    // A file of cards several pieces long is read in two halves at once, the second from the first card
    // that starts past the middle: reading cards takes far longer than reading their bytes.
    if (expectedBytes >= 4 * std::max<std::size_t>(pieceBytes, 4) && memoryUnlimited()) {
        std::string start(std::max<std::size_t>(pieceBytes, 4), '\0');
        const Result<std::size_t> got = readFully(source, 0, start.data(), start.size());
        if (!got)
            return got.error();
        start.resize(got.value());
        if (readInPlace(start) && looksLikeVCard(start)) {
            const Result<std::uint64_t> half = secondHalfStart(source, expectedBytes / 2);
            if (!half)
                return half.error();
            // Without a second thread, or the memory for both halves at once, or when the file shrank as
            // it was read, it is read (again) in order.
            if (half.value() > 0) {
                try {
                    Result<std::optional<ContactsRead>> halves =
                        readInHalves(source, half.value(), pieceBytes, expectedBytes);
                    if (!halves)
                        return halves.error();
                    if (halves.value())
                        return std::move(*halves.value());
                } catch (const std::system_error&) {
                } catch (const std::bad_alloc&) {
                }
            }
        }
    }
    return readContacts(sequentially(source, 0, kToTheEnd), pieceBytes, expectedBytes);
}

} // namespace tesselby
