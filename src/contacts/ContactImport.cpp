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

} // namespace

ContactsRead readContacts(std::string_view bytes)
{
    ContactsRead read;
    const DecodedText decoded = decodeFileText(bytes);
    if (decoded.problem) {
        read.problems.push_back(*decoded.problem);
        return read;
    }
    if (looksLikeVCard(decoded.text)) {
        VCardsRead cards = readVCards(decoded.text);
        read.problems = std::move(cards.problems);
        mapAll(cards.cards, read, [](const VCard& card) { return recordFromCard(card); });
    } else {
        CsvRead csv = readCsv(decoded.text);
        read.problems = std::move(csv.problems);
        const CsvColumns columns = csvColumns(csv.rows.empty() ? std::vector<std::string>{} : csv.rows.front().fields);
        if (csv.rows.empty() || !columns.known()) {
            read.problems = {{csv.rows.empty() ? 1 : csv.rows.front().line,
                              "neither vCards nor CSV whose first line names a column Tesselby knows (First Name, "
                              "Last Name, Name, Phone, E-Mail, ...); nothing was read"}};
            return read;
        }
        csv.rows.erase(csv.rows.begin());
        mapAll(csv.rows, read, [&columns](const CsvRow& row) { return recordFromRow(columns, row); });
    }
    std::stable_sort(read.problems.begin(), read.problems.end(),
                     [](const ContactProblem& a, const ContactProblem& b) { return a.line < b.line; });
    return read;
}

} // namespace tesselby
