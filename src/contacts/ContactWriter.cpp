#include "ContactWriter.h"

#include <string_view>

namespace tesselby {

namespace {

constexpr std::size_t kFoldOctets = 75;

std::string escaped(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' || c == ',' || c == ';') {
            out += '\\';
            out += c;
        } else if (c == '\r' || c == '\n') {
            out += "\\n";
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

bool continuesCharacter(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Writes a content line folded so that no line passes 75 octets, each fold before a whole character.
void appendFolded(std::string& out, std::string_view line)
{
    std::size_t room = kFoldOctets;
    while (line.size() > room) {
        std::size_t cut = room;
        while (cut > 1 && continuesCharacter(line[cut]))
            --cut;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        room = kFoldOctets - 1;
    }
    out.append(line);
    out += "\r\n";
}

} // namespace

std::string fullName(std::string_view first, std::string_view last)
{
    std::string name(first);
    if (!first.empty() && !last.empty())
        name += ' ';
    name += last;
    return name;
}

void appendVCard(std::string& out, const Record& record, VCardVersion version)
{
    const bool v4 = version == VCardVersion::V40;
    out += "BEGIN:VCARD\r\n";
    out += v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n";
    appendFolded(out, "N:" + escaped(record[Field::LastName]) + ';' + escaped(record[Field::FirstName]) + ";;;");
    appendFolded(out, "FN:" + escaped(fullName(record[Field::FirstName], record[Field::LastName])));
    // In 4.0 a phone is an address (tel:) unless said to be text.
    if (!record[Field::Phone].empty())
        appendFolded(out, (v4 ? "TEL;VALUE=text:" : "TEL:") + escaped(record[Field::Phone]));
    if (!record[Field::Email].empty())
        appendFolded(out, (v4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:") + escaped(record[Field::Email]));
    out += "END:VCARD\r\n";
}

void appendCsvHeader(std::string& out)
{
    out += kCsvHeader;
    out += "\r\n";
}

void appendCsvRow(std::string& out, const Record& record, CsvValues values)
{
    for (int field = 0; field < kFieldCount; ++field) {
        if (field > 0)
            out += ',';
        const std::string& value = record[field];
        const bool formula = values == CsvValues::SpreadsheetSafe && !value.empty() &&
                             std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos;
        if (!formula && value.find_first_of(",\"\r\n") == std::string::npos) {
            out += value;
            continue;
        }
        out += '"';
        if (formula)
            out += '\'';
        for (const char c : value) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    out += "\r\n";
}

} // namespace tesselby
