#pragma once

#include <string_view>
#include <vector>

#include "ContactProblem.h"

namespace tesselby {

// The people in a file to import, found by what it holds: vCards when it starts with BEGIN:VCARD, else
// CSV with a header that names columns Tesselby knows. Any byte-order mark, UTF-8 or UTF-16, is read.
// Problems come in line order.
ContactsRead readContacts(std::string_view bytes);

// The same for a text known to be vCards, or CSV, already decoded to UTF-8; broken names the lines that
// held a broken character (see DecodedText), whose cards or rows are skipped, each with a problem.
ContactsRead readVCardContacts(std::string_view text, const std::vector<ContactProblem>& broken = {});
ContactsRead readCsvContacts(std::string_view text, const std::vector<ContactProblem>& broken = {});

} // namespace tesselby
