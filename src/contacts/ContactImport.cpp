#include "ContactImport.h"

#include <algorithm>
#include <string>

#include "CsvReader.h"
#include "ImportMapping.h"
#include "TextDecoding.h"
#include "VCardReader.h"

namespace tesselby {

namespace {

template <typename Source, typename Map> void mapAll(const Source& items, ContactsRead& read, Map map)
{
    for (const auto& item : items) {
        auto [record, problem] = map(item);
        if (record)
            read.records.push_back(std::move(*record));
        else if (problem)
            read.problems.push_back(std::move(*problem));
    }
}

// Drops the cards or rows that hold a broken character, each reported once, at its first broken line;
// a broken character outside every one of them is reported on its own.
template <typename Item>
void skipBroken(std::vector<Item>& items, const std::vector<ContactProblem>& broken, const char* itemName,
                ContactsRead& read)
{
    if (broken.empty())
        return;
    std::vector<bool> reported(broken.size(), false);
    auto firstBroken = broken.begin();
    std::erase_if(items, [&](const Item& item) {
        firstBroken =
            std::lower_bound(firstBroken, broken.end(), item.line,
                             [](const ContactProblem& problem, std::size_t line) { return problem.line < line; });
        auto within = firstBroken;
        for (; within != broken.end() && within->line <= item.endLine; ++within)
            reported[static_cast<std::size_t>(within - broken.begin())] = true;
        if (within == firstBroken)
            return false;
        read.problems.push_back({firstBroken->line, firstBroken->message + "; the " + itemName +
                                                        " that starts on line " + std::to_string(item.line) +
                                                        " was skipped"});
        return true;
    });
    for (std::size_t i = 0; i < broken.size(); ++i)
        if (!reported[i])
            read.problems.push_back(broken[i]);
}

void inLineOrder(std::vector<ContactProblem>& problems)
{
    std::stable_sort(problems.begin(), problems.end(),
                     [](const ContactProblem& a, const ContactProblem& b) { return a.line < b.line; });
}

} // namespace

ContactsRead readVCardContacts(std::string_view text, const std::vector<ContactProblem>& broken)
{
    ContactsRead read;
    VCardsRead cards = readVCards(text);
    read.problems = std::move(cards.problems);
    skipBroken(cards.cards, broken, "card", read);
    mapAll(cards.cards, read, [](const VCard& card) { return recordFromCard(card); });
    inLineOrder(read.problems);
    return read;
}

ContactsRead readCsvContacts(std::string_view text, const std::vector<ContactProblem>& broken)
{
    ContactsRead read;
    CsvRead csv = readCsv(text);
    // The columns of a header with a broken character cannot be trusted, nor then any row.
    if (!csv.rows.empty() && !broken.empty() && broken.front().line <= csv.rows.front().endLine)
        return ContactsRead{{}, {{broken.front().line, broken.front().message + " in the header; nothing was read"}}};
    const CsvColumns columns = csvColumns(csv.rows.empty() ? std::vector<std::string>{} : csv.rows.front().fields);
    if (csv.rows.empty() || !columns.known()) {
        read.problems = {{csv.rows.empty() ? 1 : csv.rows.front().line,
                          "neither vCards nor CSV whose first line names a column Tesselby knows (First Name, "
                          "Last Name, Name, Phone, E-Mail, ...); nothing was read"}};
        return read;
    }
    read.problems = std::move(csv.problems);
    csv.rows.erase(csv.rows.begin());
    skipBroken(csv.rows, broken, "row", read);
    mapAll(csv.rows, read, [&columns](const CsvRow& row) { return recordFromRow(columns, row); });
    inLineOrder(read.problems);
    return read;
}

ContactsRead readContacts(std::string_view bytes)
{
    const DecodedText decoded = decodeFileText(bytes);
    // An empty file, such as the export of an empty list, holds nobody and nothing wrong.
    if (decoded.broken.empty() && decoded.text.find_first_not_of(" \t\r\n") == std::string::npos)
        return {};
    return looksLikeVCard(decoded.text) ? readVCardContacts(decoded.text, decoded.broken)
                                        : readCsvContacts(decoded.text, decoded.broken);
}

} // namespace tesselby
