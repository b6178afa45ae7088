#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ContactProblem.h"
#include "CsvReader.h"
#include "Result.h"
#include "VCardReader.h"
#include "records/Record.h"

namespace tesselby {

// How a card becomes a person:
// - first and last name: the given and family names of N when it has either, else FN split at its last
//   space (a single word is the first name);
// - phone: the TEL marked preferred (PREF, TYPE=pref, the lowest PREF=n), else the first cell phone,
//   else the first; e-mail: the EMAIL marked preferred, else the first. Empty ones are passed over;
// - values decoded (quoted-printable, base64, CHARSET=), unescaped (\, \; \\ and \n, which becomes the
//   program's own CR LF) and otherwise kept exactly; a tel: address loses its "tel:".
// - a card without a name in N or FN (or whose FN is only its ORG) but with an organisation (ORG's first
//   part) has the organisation as its last name;
// - what the fields cannot hold (ADR, PHOTO, NOTE, the other TEL and EMAIL, ...) is counted in dropped.
// A card with none of N, FN, ORG, TEL and EMAIL, or in a character set not known, gives a problem instead.
Result<Record, ContactProblem> recordFromCard(const VCard& card, DroppedValues* dropped = nullptr);

// The columns of a CSV header that give each field, read by name, without case, spaces or hyphens:
// Tesselby's own (First Name, Last Name, Phone, E-Mail) and those of the common mail programs' exports.
struct CsvColumns {
    std::size_t count = 0;
    std::vector<std::size_t> first, last, fullName;
    std::vector<std::size_t> primaryPhone, mobilePhone, phone;
    std::vector<std::size_t> primaryEmail, email;
    std::vector<std::size_t> organisation; // Company, Organization Name, Organization 1 - Name
    // A column the fields do not take, with what its values count as when dropped; for an address,
    // what tells its address from another ("address1", "home").
    struct Other {
        std::size_t column;
        DroppedKind kind;
        std::string address;
    };
    std::vector<Other> others;
    std::vector<bool> several; // for each column: named "... - Value", a cell may hold values " ::: " apart

    bool known() const;
};
CsvColumns csvColumns(const std::vector<std::string>& header);

// A row as a person: each field from the first of its columns that is not empty (a primary column,
// then a mobile one, then any, for the phone), and of a web mail's cell holding several values
// " ::: " apart (in a column named "... - Value"), the first; the name split as for a card when only a full name is
// given, and the organisation the last name when there is no name. What the fields cannot hold is counted in dropped. A
// row whose number of fields is not the header's gives a problem.
Result<Record, ContactProblem> recordFromRow(const CsvColumns& columns, const CsvRow& row,
                                             DroppedValues* dropped = nullptr);

// The first and last name in a full name.
std::pair<std::string, std::string> splitFullName(std::string_view fullName);

} // namespace tesselby
