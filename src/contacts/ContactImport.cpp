#include "ContactImport.h"

#include <algorithm>

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

void inLineOrder(std::vector<ContactProblem>& problems)
{
    std::stable_sort(problems.begin(), problems.end(),
                     [](const ContactProblem& a, const ContactProblem& b) { return a.line < b.line; });
}

} // namespace

ContactsRead readVCardContacts(std::string_view text)
{
    ContactsRead read;
    VCardsRead cards = readVCards(text);
    read.problems = std::move(cards.problems);
    mapAll(cards.cards, read, [&read](const VCard& card) { return recordFromCard(card, &read.dropped); });
    inLineOrder(read.problems);
    return read;
}

ContactsRead readCsvContacts(std::string_view text)
{
    ContactsRead read;
    CsvRead csv = readCsv(text);
    const CsvColumns columns = csvColumns(csv.rows.empty() ? std::vector<std::string>{} : csv.rows.front().fields);
    if (csv.rows.empty() || !columns.known()) {
        read.problems = {{csv.rows.empty() ? 1 : csv.rows.front().line,
                          "neither vCards nor CSV whose first line names a column Tesselby knows (First Name, "
                          "Last Name, Name, Company, Phone, E-Mail, ...); nothing was read"}};
        return read;
    }
    read.problems = std::move(csv.problems);
    csv.rows.erase(csv.rows.begin());
    mapAll(csv.rows, read, [&](const CsvRow& row) { return recordFromRow(columns, row, &read.dropped); });
    inLineOrder(read.problems);
    return read;
}

ContactsRead readContacts(std::string_view bytes)
{
    const DecodedText decoded = decodeFileText(bytes);
    if (decoded.problem)
        return ContactsRead{{}, {*decoded.problem}, {}};
    // An empty file, such as the export of an empty list, holds nobody and nothing wrong.
    if (decoded.text.find_first_not_of(" \t\r\n") == std::string::npos)
        return {};
    return looksLikeVCard(decoded.text) ? readVCardContacts(decoded.text) : readCsvContacts(decoded.text);
}

} // namespace tesselby
