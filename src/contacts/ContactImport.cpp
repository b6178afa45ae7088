#include "ContactImport.h"

#include <algorithm>
#include <array>
#include <functional>
#include <future>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "CsvReader.h"
#include "ImportMapping.h"
#include "TextDecoding.h"
#include "VCardReader.h"

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

// A piece of a file of cards, parsed on its own. Every piece but the first starts with BEGIN:VCARD, where
// a parser is as it is at the start of a text, so pieces parsed apart read as the whole text does; only
// the lines before must be known. Its memory is kept from piece to piece.
struct CardPiece {
    std::string bytes; // the piece, then what was read after it
    std::size_t size = 0;
    std::size_t linesBefore = 0;
    ContactsRead read;

    std::string_view text() const { return {bytes.data(), size}; }

    void parse()
    {
        VCardParser parser(personOfEachCard(read), read.problems, linesBefore);
        parser.parse(text());
        // A card left open here is reported as the BEGIN:VCARD after it would report it.
        parser.finish();
    }

    // Adds what the piece read to into, after what is there.
    void moveInto(ContactsRead& into)
    {
        into.records.append(read.records);
        into.problems.insert(into.problems.end(), std::make_move_iterator(read.problems.begin()),
                             std::make_move_iterator(read.problems.end()));
        into.dropped.add(read.dropped);
        read.records.clear();
        read.problems.clear();
        read.dropped = {};
    }
};

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
    const std::size_t kPiece = std::max<std::size_t>(pieceBytes, 4);
    // The first held bytes of buffer are read; the rest is room, kept from read to read.
    std::string buffer;
    std::size_t held = 0;
    bool atEnd = false;
    // Reads until at least wanted bytes are held, or the whole source.
    auto fill = [&](std::size_t wanted) -> Status {
        while (!atEnd && held < wanted) {
            if (buffer.size() < wanted)
                buffer.resize(std::max(wanted, buffer.size() * 2));
            const Result<std::size_t> got = source(buffer.data() + held, buffer.size() - held);
            if (!got)
                return got.error();
            atEnd = got.value() == 0;
            held += got.value();
        }
        return {};
    };
    auto text = [&] { return std::string_view(buffer.data(), held); };
    if (Status read = fill(kPiece); !read)
        return read.error();
    // Only cards in UTF-8 stream; anything else is read whole, as it comes.
    if (!readInPlace(text()) || !looksLikeVCard(text())) {
        while (!atEnd)
            if (Status read = fill(held + kPiece); !read)
                return read.error();
        return readContacts(text());
    }
    ContactsRead read;
    // Room for the people a file of cards this size usually holds, taken once: only what they fill is
    // memory in use, and none is copied as the list of them grows. Without the room, it grows as it must.
    try {
        read.records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expectedBytes / 160, 1u << 24)));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    std::size_t scanned = 0; // where a piece's end may still be found in what is held
    // Moves the next piece of whole cards into piece, keeping what follows it; false when none is left.
    auto takePiece = [&](CardPiece& piece) -> Result<bool> {
        for (;;) {
            const std::size_t end = atEnd ? held : VCardParser::cardsEnd(text(), scanned);
            if (end > 0) {
                std::swap(piece.bytes, buffer);
                piece.size = end;
                held -= end;
                if (buffer.size() < held)
                    buffer.resize(held);
                std::copy_n(piece.bytes.begin() + static_cast<std::ptrdiff_t>(end), held, buffer.begin());
                scanned = 0;
                return true;
            }
            if (atEnd)
                return false;
            // What was looked through is not looked through again: a line that starts before the last
            // few bytes and has not ended is too long to be where a card starts.
            scanned = held > VCardParser::kLongestCardStart ? held - VCardParser::kLongestCardStart : 0;
            if (Status more = fill(held + kPiece); !more)
                return more.error();
        }
    };
    std::size_t lines = 0;
    auto begin = [&](CardPiece& piece) {
        piece.linesBefore = lines;
        lines += VCardParser::linesIn(piece.text());
    };
    // Two pieces at a time: this thread reads the file on and parses the second while another parses
    // the first.
    std::array<CardPiece, 2> pieces;
    for (bool more = true; more;) {
        const Result<bool> first = takePiece(pieces[0]);
        if (!first)
            return first.error();
        if (!first.value())
            break;
        begin(pieces[0]);
        std::future<void> parsed;
        try {
            parsed = std::async(std::launch::async, [&pieces] { pieces[0].parse(); });
        } catch (const std::system_error&) {
            parsed = std::async(std::launch::deferred, [&pieces] { pieces[0].parse(); });
        }
        const Result<bool> second = takePiece(pieces[1]);
        more = second && second.value();
        if (more) {
            begin(pieces[1]);
            pieces[1].parse();
        }
        parsed.get();
        if (!second)
            return second.error();
        pieces[0].moveInto(read);
        if (more)
            pieces[1].moveInto(read);
    }
    inLineOrder(read.problems);
    return read;
}

} // namespace tesselby
