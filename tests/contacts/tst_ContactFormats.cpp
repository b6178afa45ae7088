#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ContactImport.h"
#include "ContactSamples.h"
#include "ContactWriter.h"
#include "ListCheck.h"
#include "ShownValueBytes.h"
#include "format/TextEncoding.h"

using namespace tesselby;

namespace {

struct ImportCase {
    const char* name;
    std::string bytes;
    std::vector<Record> records;
    std::vector<std::size_t> problemLines;
    std::optional<std::string> dropped = {}; // what the summary says the fields could not hold
};

std::vector<std::size_t> linesOf(const std::vector<ContactProblem>& problems)
{
    std::vector<std::size_t> lines;
    for (const ContactProblem& problem : problems)
        lines.push_back(problem.line);
    return lines;
}

std::vector<std::string> messagesOf(const std::vector<ContactProblem>& problems)
{
    std::vector<std::string> messages;
    for (const ContactProblem& problem : problems)
        messages.push_back(problem.message);
    return messages;
}

// The same people, problems (by line and message) and dropped values as expected.
void checkSameRead(const Result<ContactsRead>& got, const ContactsRead& expected)
{
    REQUIRE(got);
    CHECK(got.value().records == expected.records);
    CHECK(linesOf(got.value().problems) == linesOf(expected.problems));
    CHECK(messagesOf(got.value().problems) == messagesOf(expected.problems));
    CHECK(got.value().dropped.describe() == expected.dropped.describe());
}

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

void checkImport(const ImportCase& row)
{
    INFO(row.name);
    const ContactsRead read = readContacts(row.bytes);
    CHECK(read.records == row.records);
    CHECK(linesOf(read.problems) == row.problemLines);
    if (row.dropped)
        CHECK(read.dropped.describe() == *row.dropped);
    const ContactsRead cutRead = readContacts(std::string_view(row.bytes).substr(0, row.bytes.size() / 4));
    // Read a piece at a time, through reads of a few bytes, the same.
    for (const std::size_t piece : {std::size_t(4), std::size_t(16), std::size_t(50), std::size_t(1) << 20}) {
        INFO("in pieces of " << piece);
        std::size_t at = 0;
        const Result<ContactsRead> streamed = readContacts(
            [&](char* into, std::size_t room) -> Result<std::size_t> {
                const std::size_t taken = std::min({room, std::size_t(3), row.bytes.size() - at});
                row.bytes.copy(into, taken, at);
                at += taken;
                return taken;
            },
            piece);
        checkSameRead(streamed, read);
        // And as a file of a known size, read from any place: a long one in two halves at once.
        const Result<ContactsRead> placed = readContacts(
            [&](std::uint64_t offset, char* into, std::size_t room) -> Result<std::size_t> {
                if (offset >= row.bytes.size())
                    return std::size_t(0);
                return row.bytes.copy(into, std::min(room, std::size_t(3)), static_cast<std::size_t>(offset));
            },
            piece, row.bytes.size());
        checkSameRead(placed, read);
        // And as a file that shrank to a quarter as it was read, after what lies from a third on was read:
        // as a reading in order, it ends at the quarter.
        const std::size_t quarter = row.bytes.size() / 4, third = std::max(row.bytes.size() / 3, quarter + 1);
        const Result<ContactsRead> shrunk = readContacts(
            [&](std::uint64_t offset, char* into, std::size_t room) -> Result<std::size_t> {
                const std::size_t end = offset < quarter ? quarter : row.bytes.size();
                if (offset >= end || (offset >= quarter && offset < third))
                    return std::size_t(0);
                return row.bytes.copy(into, std::min({room, std::size_t(3), end - static_cast<std::size_t>(offset)}),
                                      static_cast<std::size_t>(offset));
            },
            piece, row.bytes.size());
        checkSameRead(shrunk, cutRead);
    }
}

} // namespace

TEST_CASE("cards shaped like real exports become people by the mapping rules")
{
    const ImportCase cases[] = {
        {"a phone's 2.1 export: quoted-printable UTF-8 and Latin-1, soft line breaks, CELL, PREF",
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=B6rg;;;\r\n"
         "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=B6rg M=C3=BCller\r\n"
         "TEL;HOME:030 1234\r\nTEL;CELL:+49 170 1234\r\nEMAIL;HOME:j@example.de\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=UTF-8;QUOTED-PRINTABLE:=E7=8E=8B;=E5=B0=8F=\r\n=E6=98=8E;;;\r\n"
         "TEL;CELL:139 0000\r\nTEL;WORK;PREF:010 5555\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Lef=E8vre;Ren=E9e\r\n"
         "NOTE;ENCODING=QUOTED-PRINTABLE:one=0D=0A=\r\ntwo\r\nEND:VCARD\r\n",
         {{"Jörg", "Müller", "+49 170 1234", "j@example.de"},
          {"小明", "王", "010 5555", ""},
          {"Renée", "Lefèvre", "", ""}},
         {},
         "2 extra phone numbers, 1 note"},
        {"a desktop 3.0 export: byte-order mark, LF, groups, escapes, folding, TYPE=pref",
         "\xEF\xBB\xBF"
         "BEGIN:VCARD\nVERSION:3.0\nN:Smith\\, Jr.;Anna;;;\nFN:Anna Smith\\, Jr.\nORG:Example\\; Co;\n"
         "item1.EMAIL;type=INTERNET;type=pref:anna@example.org\nitem1.X-ABLabel:_$!<Other>!$_\n"
         "EMAIL;type=INTERNET;type=WORK:anna@work.example\nTEL;type=HOME;type=VOICE:555-0199\n"
         "item2.TEL;type=CELL;type=VOICE:555-0101\nNOTE:first\\nsecond\nEND:VCARD\n"
         "BEGIN:VCARD\nVERSION:3.0\nN:O'Brien;\"Bob\"\\nRobert;;;\nFN:Bob O'Brien\nTEL;TYPE=WORK,VOICE:+1 555 0102\n"
         "TEL;TYPE=CELL,PREF:+1 555 0103\nEMAIL:bob@exa\n mple.com\nEND:VCARD\n",
         {{"Anna", "Smith, Jr.", "555-0101", "anna@example.org"},
          {"\"Bob\"\r\nRobert", "O'Brien", "+1 555 0103", "bob@example.com"}},
         {},
         "2 extra phone numbers, 1 extra e-mail address, 1 note, 1 organisation"},
        {"4.0 cards: the lowest PREF=n, tel: addresses, a name only in FN",
         "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Kim Lee\r\nN:Lee;Kim;;;\r\n"
         "TEL;VALUE=uri;TYPE=\"voice,cell\";PREF=2:tel:+1-555-0102\r\nTEL;VALUE=uri;PREF=1:tel:+1-555-0100\r\n"
         "EMAIL;TYPE=work:kim@work.example\r\nEMAIL;PREF=1:kim@example.com\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:4.0\r\nFN: Ana María de la Cruz\r\nTEL;TYPE=cell:tel:5\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Cher\r\nTEL;VALUE=text:tel:6\r\nEND:VCARD\r\n",
         {{"Kim", "Lee", "+1-555-0100", "kim@example.com"},
          {"Ana María de la", "Cruz", "5", ""},
          {"Cher", "", "tel:6", ""}},
         {}},
        {"a card in UTF-16",
         utf16le(u"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ng;Zoë;;;\r\nEND:VCARD\r\n"),
         {{"Zoë", "Ng", "", ""}},
         {}},
        // A broken UTF-16 character costs only the card it is in; one outside every card costs nobody.
        {"a lone low surrogate in a card, a lone high one between cards",
         utf16le(u"BEGIN:VCARD\r\nN:Ng;Zoë;;;\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:Bad\xDC00;One;;;\r\nEND:VCARD\r\n"
                 u"\xD800\r\nBEGIN:VCARD\r\nN:Lee;Kim;;;\r\nEND:VCARD\r\n"),
         {{"Zoë", "Ng", "", ""}, {"Kim", "Lee", "", ""}},
         {5, 7, 7}},
        {"a high surrogate last, and a last byte alone",
         utf16le(u"BEGIN:VCARD\nN:Ng;Zoë;;;\nEND:VCARD\n\xD83D") + "x",
         {{"Zoë", "Ng", "", ""}},
         {4, 4, 4}}, // text outside a card, the broken character, the byte alone
        {"broken cards are skipped by their line, the whole ones kept",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Gone;Half;;;\r\n"                  // 1: no END
         "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Here;Whole;;;\r\nEND:VCARD\r\n"    // 4
         "BEGIN:VCARD\r\nVERSION:3.0\r\nPHOTO:x\r\nEND:VCARD\r\n"            // 8: nothing to keep
         "BEGIN:VCARD\r\nVERSION:3.0\r\nno colon here\r\nEND:VCARD\r\n"      // 12, the line 14
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=KOI8-R:x\r\nEND:VCARD\r\n" // 16, the line 18
         "stray text\r\nmore\r\nBEGIN:VCARD\r\nN:Last;Open",                 // 20; 22: no END
         {{"Whole", "Here", "", ""}},
         {1, 8, 14, 18, 20, 22},
         ""},
        {"lines ended by a lone CR, CR LF and LF in one file: a later card's lines still counted right",
         "BEGIN:VCARD\rVERSION:2.1\rN:Mac;Old;;;\rEND:VCARD\r" // 1
         "BEGIN:VCARD\r\nN:Dos;Crlf;;;\r\nEND:VCARD\r\n"       // 5
         "BEGIN:VCARD\nN:Unix;Lf;;;\nEND:VCARD\n"              // 8
         "BEGIN:VCARD\rN:Mixed;Cr;;;\r\nno colon\nEND:VCARD\r" // 11, the line 13
         "BEGIN:VCARD\r\rN:Late;Open;;;\r",                    // 15; no END
         {{"Old", "Mac", "", ""}, {"Crlf", "Dos", "", ""}, {"Lf", "Unix", "", ""}},
         {13, 15}},
        {"a BEGIN:VCARD line with a line folded under it starts no card, and text outside is told of once",
         "BEGIN:VCARD\r\nN:A;B;;;\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:A;B;;;\r\nEND:VCARD\r\n"
         "junk\r\nBEGIN:VCARD\r\n folded\r\nmore\r\n" // 7 to 10, past the middle
         "BEGIN:VCARD\r\nN:C;D;;;\r\nEND:VCARD\r\n",
         {{"B", "A", "", ""}, {"B", "A", "", ""}, {"D", "C", "", ""}},
         {7}},
        {"a quoted-printable value ending in \"==\", then an empty line, goes on no further: the next card is read",
         "BEGIN:VCARD\r\nN:A;B;;;\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:A;B;;;\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Soft;Break==\r\n\r\n" // 7, no END
         "BEGIN:VCARD\r\nN:C;D;;;\r\nEND:VCARD\r\n",                                      // past the middle
         {{"B", "A", "", ""}, {"B", "A", "", ""}, {"D", "C", "", ""}},
         {7}},
        {"nor does it take the END:VCARD after an empty line as its own",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Soft;Break==\r\n\r\nEND:VCARD\r\n",
         {{"Break=", "Soft", "", ""}},
         {}},
        {"files of cards put together, the later ones each with its byte-order mark",
         "BEGIN:VCARD\r\nN:A;B;;;\r\nEND:VCARD\r\n\xEF\xBB\xBF"
         "BEGIN:VCARD\r\nN:C;D;;;\r\nEND:VCARD\r\n\xEF\xBB\xBF\r\n"
         "BEGIN:VCARD\r\nN:E;F;;;\r\nEND:VCARD\r\n",
         {{"B", "A", "", ""}, {"D", "C", "", ""}, {"F", "E", "", ""}},
         {}},
        {"a company's card: its organisation is its last name when it has no name, or FN only repeats it",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Only a company\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:Acme Tools\r\nORG:Acme Tools;Sales\r\nTEL:555\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:2.1\r\nORG;ENCODING=QUOTED-PRINTABLE:B=C3=A4ckerei\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Kim Lee\r\nORG:Acme Tools\r\nEND:VCARD\r\n",
         {{"", "Only a company", "", ""},
          {"", "Acme Tools", "555", ""},
          {"", "Bäckerei", "", ""},
          {"Kim", "Lee", "", ""}},
         {},
         "1 organisation"},
        {"what the fields cannot hold is counted by kind, a LABEL with its ADR once",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:1\r\nPRODID:x\r\nREV:1\r\nN:Ng;Zoë;;;\r\nFN:Zoë Ng\r\n"
         "ADR;TYPE=HOME:;;1 Main St;Town;;;\r\nLABEL;TYPE=HOME:1 Main St\\nTown\r\nADR:;;2 Side St;;;;\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\nTEL;TYPE=CELL:1\r\nTEL:2\r\nTEL:3\r\nTEL:\r\nEMAIL:z@x\r\n"
         "EMAIL:z@y\r\nNOTE:hi\r\nURL:https://x.example\r\nBDAY:2000-01-01\r\nTITLE:Boss\r\nNICKNAME:Z\r\n"
         "X-SKYPE:zoe\r\nCATEGORIES:friends\r\nNOTE:\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Kim\r\nLABEL:Far Away\r\nEND:VCARD\r\n",
         {{"Zoë", "Ng", "1", "z@x"}, {"Kim", "Lee", "", ""}},
         {},
         "3 addresses, 1 photo, 2 extra phone numbers, 1 extra e-mail address, 1 note, 1 job title, 1 date, "
         "1 web address, 1 nickname, 2 other values"},
        // Read in linear time: a head that never reaches its colon is not looked through again at each
        // of a million soft line breaks.
        {"a head whose quote never closes, before many lines ending in \"=\"",
         "BEGIN:VCARD\r\nN;X=\"a;ENCODING=QUOTED-PRINTABLE:" + repeated("a=\r\n", 1000000) +
             "END:VCARD\r\nBEGIN:VCARD\r\nN:Here;Whole;;;\r\nEND:VCARD\r\n",
         {{"Whole", "Here", "", ""}},
         {2}},
    };
    for (const ImportCase& row : cases)
        checkImport(row);
}

TEST_CASE("CSV files shaped like real exports become people by their header")
{
    const ImportCase cases[] = {
        {"a web mail's export: LF, numbered e-mail and phone columns, a full name only",
         "Name,Given Name,Additional Name,Family Name,E-mail 1 - Type,E-mail 1 - Value,E-mail 2 - Type,"
         "E-mail 2 - Value,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value\n"
         "Anna Smith,Anna,,Smith,* Home,anna@example.org,Work,anna@work.example,Work,555-0100,Mobile,555-0101\n"
         "\"Lee, Kim\",Kim,,Lee,* ,,,kim@example.com,Mobile,\"555, 0102\",,\n"
         "Only Name,,,,,,,,,,,\n",
         {{"Anna", "Smith", "555-0100", "anna@example.org"},
          {"Kim", "Lee", "555, 0102", "kim@example.com"},
          {"Only", "Name", "", ""}},
         {},
         "1 extra phone number, 1 extra e-mail address"},
        {"a desk mail's export: byte-order mark, CR LF, every field quoted, primary and mobile phones",
         "\xEF\xBB\xBF\"First Name\",\"Middle Name\",\"Last Name\",\"E-mail Address\",\"E-mail Display Name\","
         "\"E-mail 2 Address\",\"Business Phone\",\"Mobile Phone\",\"Primary Phone\",\"Notes\"\r\n"
         "\"Jörg\",\"\",\"Müller\",\"j@example.de\",\"Jörg (j@example.de)\",\"\",\"030 1\",\"0170 3\",\"\","
         "\"one\r\ntwo\"\r\n"
         "\"Zoë\",\"\",\"Ng\",\"\",\"\",\"zoe@example.net\",\"\",\"0170 9\",\"0800 7\",\"\"\r\n",
         {{"Jörg", "Müller", "0170 3", "j@example.de"}, {"Zoë", "Ng", "0800 7", "zoe@example.net"}},
         {}},
        {"a desk mail's UTF-16 export",
         utf16le(u"First Name,Last Name,E-mail Address,Mobile Phone\r\n王,小明,w@example.cn,139\r\n"),
         {{"王", "小明", "139", "w@example.cn"}},
         {}},
        {"Tesselby's own columns keep quotes, commas, line breaks and empty people",
         "First Name,Last Name,Phone,E-Mail\r\nAnna,\"Smith, \"\"Jr.\"\"\",555,\"a@x\r\nb\"\r\n,,,\r\n"
         "a ::: b,,1 ::: 2,\r\n",
         {{"Anna", "Smith, \"Jr.\"", "555", "a@x\r\nb"}, {"", "", "", ""}, {"a ::: b", "", "1 ::: 2", ""}},
         {}},
        {"broken rows are skipped by their line",
         "First Name,Last Name,Phone,E-Mail\nToo,Few\nLone,Qu\"ote,1,2\nGood,One,1,a@b\n\"Closed\"x,a,b,c\n"
         "Five,Fields,1,2,3\nOpen,\"quote,never\nclosed\n",
         {{"Good", "One", "1", "a@b"}},
         {2, 3, 5, 6, 7}},
        {"a web mail's cells of several values, its organisation and address columns",
         "Name,Given Name,Family Name,Organization 1 - Name,Organization 1 - Title,E-mail 1 - Value,"
         "Phone 1 - Value,Address 1 - Street,Address 1 - City,Address 2 - Formatted,Notes,Group Membership\n"
         "Anna Smith,Anna,Smith,Acme,Boss,a@x ::: b@y,1 ::: 2 ::: 3,Main St,Town,Elsewhere,hi,* myContacts\n"
         ",,,Acme Tools,,,555,,,,,\n"
         "Kim Lee,,,,,,,,,,,\n",
         {{"Anna", "Smith", "1", "a@x"}, {"", "Acme Tools", "555", ""}, {"Kim", "Lee", "", ""}},
         {},
         "2 addresses, 2 extra phone numbers, 1 extra e-mail address, 1 note, 1 organisation, 1 job title, "
         "1 other value"},
        {"a desk mail's Company column is the last name of a row without a name",
         "First Name,Last Name,Company,Business Street,Business City,Home Street,Mobile Phone\r\n"
         ",,Acme,1 Road,Town,,0170\r\nJo,,Acme,,,2 Lane,\r\n",
         {{"", "Acme", "0170", ""}, {"Jo", "", "", ""}},
         {},
         "2 addresses, 1 organisation"},
        {"no column Tesselby knows", "Street,City\nMain St,Town\n", {}, {1}},
        {"an empty file, as an empty list exports", "\xEF\xBB\xBF\r\n", {}, {}},
        {"broken UTF-16", utf16le(u"First Name\n\xD800x\n"), {}, {2}},
        {"a lone surrogate skips only its row, found by the row's last line",
         utf16le(u"First Name,Last Name\r\nAnna,Smith\r\nB\xD800ob,Jones\r\n\"Multi\r\nline\",X\xDFFF\r\nKim,Lee\r\n"),
         {{"Anna", "Smith", "", ""}, {"Kim", "Lee", "", ""}},
         {3, 5}},
        {"rows ended by a lone CR, big-endian without a mark",
         [] {
             std::string bytes;
             for (const char16_t unit : std::u16string_view(u"First Name\rAnna\rB\xD800\rKim\r"))
                 bytes += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
             return bytes;
         }(),
         {{"Anna", "", "", ""}, {"Kim", "", "", ""}},
         {3}},
        {"a broken header reads nothing", utf16le(u"First\xD800 Name\r\nAnna\r\n"), {}, {1}},
    };
    for (const ImportCase& row : cases)
        checkImport(row);
}

TEST_CASE("what is exported imports as the same records, in every format")
{
    const std::string longValue = std::string(200, 'x') + "ü王" + std::string(100, '\\');
    const std::vector<Record> records = {
        {"Anna", "Smith, Jr.", "+1 (555) 0101", "anna@example.org"},
        {"Quote \"me\"", "Semi;colon\\n", "", "x,y"},
        {"Line\r\nbreak", "  spaced  ", "\t", "=41"},
        {"", "", "", ""},
        {longValue, std::string(40, 'e') + "王小明王小明王小明王小明王小明王小明王小明", "tel:555", "BEGIN:VCARD"},
        {"", "Last only", "", ""},
    };
    const struct {
        const char* name;
        bool csv;
        VCardVersion version;
    } formats[] = {{"CSV", true, VCardVersion::V30},
                   {"vCard 3.0", false, VCardVersion::V30},
                   {"vCard 4.0", false, VCardVersion::V40}};
    for (const auto& format : formats) {
        INFO(format.name);
        std::string out;
        if (format.csv)
            appendCsvHeader(out);
        for (const Record& record : records)
            format.csv ? appendCsvRow(out, record) : appendVCard(out, record, format.version);
        const ContactsRead read = readContacts(out);
        CHECK(read.records == records);
        CHECK(read.problems.empty());
        if (format.csv)
            continue;
        // Folded at 75 octets, never inside a character.
        for (std::size_t start = 0; start < out.size();) {
            const std::size_t end = out.find("\r\n", start);
            const std::string_view line(out.data() + start, end - start);
            CHECK(line.size() <= 75);
            CHECK(isValidUtf8(line));
            start = end + 2;
        }
    }
}

TEST_CASE("the check reports each form of item the program never writes, by its first line")
{
    using enum ListFindingKind;
    const std::string tooLong = "\"" + std::string(kShownValueBytes + 1, 'x') + "\"\r\n";
    const struct {
        const char* name;
        std::string text;
        std::size_t records, itemsInLastRecord, lastRecordLine;
        std::vector<std::pair<ListFindingKind, std::size_t>> findings;
    } cases[] = {
        {"as the program writes it",
         itemLines({"a", "b\r\nc", "", "\"d\""}) + itemLines({"", "", "", ""}),
         2,
         0,
         5,
         {}},
        {"empty", "", 0, 0, 0, {}},
        {"an incomplete last record", itemLines({"a", "b", "c", "d"}) + "\"e\"\r\n", 2, 1, 5, {}},
        {"hand-written forms",
         "a\r\n\"b\",\"c\"\r\n\"d\"\n\"e\"x\r\n\"f\"",
         2,
         2,
         4,
         {{Unquoted, 1}, {SeveralOnALine, 2}, {OtherLineEnd, 3}, {NoFinalLineEnd, 5}}},
        {"an open quote", "\"a\"\r\n\"b\r\nc", 1, 2, 1, {{OpenQuote, 3}}},
        {"older single-byte text and a byte-order mark",
         "\xEF\xBB\xBF\"Caf\xE9\"\r\n\"x\"\r\n\"y\"\r\n\"z\"\r\n",
         1,
         0,
         1,
         {{ByteOrderMark, 1}, {SingleByte, 1}}},
        {"a value too long to show", "\"a\"\r\n" + tooLong + "\"c\"\r\n\"d\"\r\n", 1, 0, 1, {{TooLong, 2}}},
    };
    for (const auto& row : cases) {
        INFO(row.name);
        const ListReport report = checkList(row.text);
        CHECK(report.records == row.records);
        CHECK(report.itemsInLastRecord == row.itemsInLastRecord);
        if (row.itemsInLastRecord != 0)
            CHECK(report.lastRecordLine == row.lastRecordLine);
        std::vector<std::pair<ListFindingKind, std::size_t>> found;
        for (const ListFinding& finding : report.findings)
            found.emplace_back(finding.kind, finding.firstLine);
        CHECK(found == row.findings);
        CHECK(report.clean() == (row.findings.empty() && row.itemsInLastRecord == 0));
    }
}
