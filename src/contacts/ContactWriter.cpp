#include "ContactWriter.h"

#include <string_view>

namespace tesselby {

namespace {

constexpr std::size_t kFoldOctets = 75;

// Appends value escaped: a backslash before \ , and ;, and \n for a line break. The runs between
// them are copied whole.
void appendEscaped(std::string& out, std::string_view value)
{
    std::size_t from = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c != '\\' && c != ',' && c != ';' && c != '\r' && c != '\n')
            continue;
        out.append(value.substr(from, i - from));
        if (c == '\r' || c == '\n') {
            out += "\\n";
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else {
            out += '\\';
            out += c;
        }
        from = i + 1;
    }
    out.append(value.substr(from));
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

std::string escapedVCardText(std::string_view value)
{
    std::string out;
    appendEscaped(out, value);
    return out;
}

void appendFoldedLine(std::string& out, std::string_view line)
{
    appendFolded(out, line);
}

void appendVCard(std::string& out, const Record& record, VCardVersion version)
{
    const bool v4 = version == VCardVersion::V40;
    out += "BEGIN:VCARD\r\n";
    out += v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n";
    // Each line is made in one string, kept from line to line.
    std::string line = "N:";
    appendEscaped(line, record[Field::LastName]);
    line += ';';
    appendEscaped(line, record[Field::FirstName]);
    line += ";;;";
    appendFolded(out, line);
    line.assign("FN:");
    appendEscaped(line, record[Field::FirstName]);
    if (!record[Field::FirstName].empty() && !record[Field::LastName].empty())
        line += ' ';
    appendEscaped(line, record[Field::LastName]);
    appendFolded(out, line);
    // In 4.0 a phone is an address (tel:) unless said to be text.
    if (!record[Field::Phone].empty()) {
        line.assign(v4 ? "TEL;VALUE=text:" : "TEL:");
        appendEscaped(line, record[Field::Phone]);
        appendFolded(out, line);
    }
    if (!record[Field::Email].empty()) {
        line.assign(v4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:");
        appendEscaped(line, record[Field::Email]);
        appendFolded(out, line);
    }
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
