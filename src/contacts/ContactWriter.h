#pragma once

#include <string>
#include <string_view>

#include "records/Record.h"

namespace tesselby {

enum class VCardVersion { V30, V40 };

// The name a person is shown by: first and last name, with a blank between them when both are there.
std::string fullName(std::string_view first, std::string_view last);

// One person as a card: N, FN, TEL and EMAIL (the last two only when filled in), escaped, with line
// breaks as \n, folded at 75 octets without splitting a character, CR LF line ends.
void appendVCard(std::string& out, const Record& record, VCardVersion version);
// The pieces it is made of, for a writer that changes single properties of a card: a text value
// escaped, and a content line folded with its CR LF.
std::string escapedVCardText(std::string_view value);
void appendFoldedLine(std::string& out, std::string_view line);

// CSV as RFC 4180 writes it, CR LF line ends; a field is quoted when it holds a comma, a quote or a
// line break.
inline constexpr char kCsvHeader[] = "First Name,Last Name,Phone,E-Mail";
// AsTheyAre gives back every byte on import. SpreadsheetSafe starts a value a spreadsheet would run as a
// formula (one beginning with =, +, -, @, a tab or a CR, as OWASP lists them) with a ', which the
// spreadsheet shows the value behind; such a value is quoted. An import keeps that ' as part of the value.
enum class CsvValues { AsTheyAre, SpreadsheetSafe };
void appendCsvHeader(std::string& out);
void appendCsvRow(std::string& out, const Record& record, CsvValues values = CsvValues::AsTheyAre);

} // namespace tesselby
