#include "DoctestPrinters.h"
#include <string>
#include <vector>

#include "format/ItemScanner.h"
#include "format/ItemWriter.h"
#include "format/TextEncoding.h"

using namespace tesselby;
using namespace std::string_literals;

namespace {

std::vector<std::string> readItems(const std::string& text)
{
    std::vector<std::string> items;
    ItemScanner scanner(text);
    RawItem item;
    while (scanner.next(item))
        items.push_back(decodeItem(item));
    return items;
}

} // namespace

TEST_CASE("writesOneQuotedLinePerItem")
{
    const struct {
        const char* name;
        std::string value, line;
    } rows[] = {
        {"plain", "Smith", "\"Smith\"\r\n"},
        {"empty", "", "\"\"\r\n"},
        {"digits stay text", "5551234", "\"5551234\"\r\n"},
        {"comma needs nothing", "Smith, Jr.", "\"Smith, Jr.\"\r\n"},
        {"quote doubled", "Bob \"Bo\" Lee", "\"Bob \"\"Bo\"\" Lee\"\r\n"},
        {"line break kept inside", "a\r\nb", "\"a\r\nb\"\r\n"},
        {"blanks kept", "  x  ", "\"  x  \"\r\n"},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            std::string out;
            appendItem(out, row.value);
            CHECK(out == row.line);
        }
    }
}

TEST_CASE("everyValueReadsBackAsWritten")
{
    const struct {
        const char* name;
        std::string value;
    } rows[] = {
        {"empty", ""},
        {"comma", "O'Brien, Sr."},
        {"lone quote", "\""},
        {"two quotes", "\"\""},
        {"quoted word", "say \"hi\""},
        {"ends with quote", "abc\""},
        {"CR LF", "line one\r\nline two"},
        {"LF", "a\nb"},
        {"lone CR", "a\rb"},
        {"only a line break", "\r\n"},
        {"leading and trailing blanks", "  padded\t "},
        {"accents and scripts", "Zoë Ångström 李小龍 Ελένη"},
        {"byte-order mark inside", "\xEF\xBB\xBFx"},
        {"NUL", "a\0b"s},
        {"long", std::string(200000, 'x')},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            // Written between two neighbours, so a value that leaked would shift them.
            std::string text;
            appendItem(text, "before");
            appendItem(text, row.value);
            appendItem(text, "after");
            CHECK(readItems(text) == std::vector<std::string>{"before", row.value, "after"});
        }
    }
}

TEST_CASE("readsContentWrittenByOtherMeans")
{
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> items;
    } rows[] = {
        {"empty file", "", {}},
        {"only blank lines", "\r\n\n  \r\n", {}},
        {"LF line ends", "\"a\"\n\"b\"\n", {"a", "b"}},
        {"lone CR line ends", "\"a\"\r\"b\"\r", {"a", "b"}},
        {"no final line end", "\"a\"\r\n\"b\"", {"a", "b"}},
        {"unquoted last item", "\"a\"\r\nb", {"a", "b"}},
        {"blank lines between", "\"a\"\r\n\r\n\r\n\"b\"\r\n", {"a", "b"}},
        {"several on a line", "\"a\",\"b\" , \"c\"\r\n", {"a", "b", "c"}},
        {"unquoted trimmed", "  John  ,Smith\t\r\n", {"John", "Smith"}},
        {"rest after quote skipped", "\"a\"junk\r\n\"b\"\r\n", {"a", "b"}},
        {"trailing comma", "\"a\",\r\n\"b\"\r\n", {"a", "", "b"}},
        {"comma at end of file", "a,", {"a", ""}},
        {"unterminated quote", "\"a\"\r\n\"b\r\nc", {"a", "b\r\nc"}},
        {"leading blanks before quote", "   \"a\"\r\n", {"a"}},
        {"byte-order mark", "\xEF\xBB\xBF\"a\"\r\n", {"a"}},
        {"empty quoted", "\"\"\r\n\"\"\r\n", {"", ""}},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            CHECK(readItems(row.text) == row.items);
        }
    }
}

TEST_CASE("readsOlderSingleByteTextItemByItem")
{
    // An older file in Windows-1252, with a record added later in UTF-8.
    const std::string text = "\"M\xFCller\"\r\n\"\x80 5\"\r\n\"\x93quoted\x94\"\r\n\"Müller\"\r\n";
    CHECK(readItems(text) == std::vector<std::string>{"Müller", "€ 5", "\u201Cquoted\u201D", "Müller"});
}

TEST_CASE("rejectsMalformedUtf8")
{
    const struct {
        const char* name;
        std::string bytes;
        bool valid;
    } rows[] = {
        {"ascii", "plain", true},
        {"two-byte", "\xC3\xA9", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"overlong", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut short", "abc\xE2\x82", false},
        {"lone continuation", "\x80", false},
        {"long ascii then bad", "abcdefghijklmnop\xFF", false},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            CHECK(isValidUtf8(row.bytes) == row.valid);
        }
    }
}

TEST_CASE("keepsBytesOfUnchangedItems")
{
    // Writing an item as it was read keeps older single-byte text and escapes byte for byte.
    const std::string text = "\"M\xFCller\"\r\n\"a\"\"b\"\r\n";
    ItemScanner scanner(text);
    RawItem item;
    std::string out;
    while (scanner.next(item))
        appendItemAsRead(out, item);
    CHECK(out == text);
}
