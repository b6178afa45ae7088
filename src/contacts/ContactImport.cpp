#include "ContactImport.h"

#include <algorithm>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

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
    VCardParser parser(personOfEachCard(read), read.problems);
    std::size_t scanned = 0; // where a piece's end may still be found in what is held
    for (;;) {
        if (atEnd) {
            parser.parse(text());
            parser.finish();
            break;
        }
        if (const std::size_t end = VCardParser::cardsEnd(text(), scanned); end > 0) {
            parser.parse(text().substr(0, end));
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(end),
                      buffer.begin() + static_cast<std::ptrdiff_t>(held), buffer.begin());
            held -= end;
            scanned = 0;
        } else {
            // What was looked through is not looked through again: a line that starts before the last
            // few bytes and has not ended is too long to be where a card starts.
            scanned = held > VCardParser::kLongestCardStart ? held - VCardParser::kLongestCardStart : 0;
        }
        if (Status more = fill(held + kPiece); !more)
            return more.error();
    }
    inLineOrder(read.problems);
    return read;
}

} // namespace tesselby
