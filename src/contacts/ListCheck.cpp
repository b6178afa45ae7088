#include "ListCheck.h"

#include <array>

#include "ShownValueBytes.h"
#include "format/ItemScanner.h"
#include "format/TextEncoding.h"
#include "records/Record.h"

namespace tesselby {

namespace {

using enum ListFindingKind;

constexpr std::array<const char*, kListFindingKinds> kKinds = {
    "a byte-order mark at the start",
    "items not in quotes",
    "lines holding more than one item",
    "items not ended by CR LF, or with text after their closing quote",
    "a quote that is never closed, at the end of the file",
    "no line end after the last item",
    "items read as the older single-byte code page (Windows-1252)",
    "values too long to show whole (over 64 KiB)",
};

// Counts lines up to a place in the text, going forward only.
class LineCounter {
public:
    explicit LineCounter(std::string_view text) : m_text(text) {}
    std::size_t lineAt(std::size_t offset)
    {
        for (; m_at < offset; ++m_at)
            if (m_text[m_at] == '\n')
                ++m_line;
        return m_line;
    }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_line = 1;
};

} // namespace

const char* describe(ListFindingKind kind)
{
    return kKinds[static_cast<int>(kind)];
}

ListReport checkList(std::string_view text)
{
    std::array<ListFinding, kListFindingKinds> found{};
    auto note = [&found](ListFindingKind kind, std::size_t line) {
        ListFinding& finding = found[static_cast<int>(kind)];
        finding.kind = kind;
        if (finding.count++ == 0)
            finding.firstLine = line;
    };
    if (text.starts_with(kByteOrderMark))
        note(ByteOrderMark, 1);

    ListReport report;
    LineCounter lines(text);
    ItemScanner scanner(text);
    RawItem item;
    std::size_t items = 0;
    bool afterComma = false;
    bool openQuote = false;
    while (scanner.next(item)) {
        const std::size_t start = static_cast<std::size_t>(item.raw.data() - text.data());
        const std::size_t line = lines.lineAt(start);
        if (items % kFieldCount == 0)
            report.lastRecordLine = line;
        ++items;
        if (afterComma)
            note(SeveralOnALine, line);
        afterComma = scanner.afterComma();
        if (!item.quoted) {
            note(Unquoted, line);
        } else {
            const std::size_t close = start + item.raw.size();
            if (close == text.size())
                openQuote = true;
            else if (!scanner.afterComma() && close + 1 != text.size() && text.substr(close + 1, 2) != "\r\n")
                note(OtherLineEnd, line);
        }
        if (!isValidUtf8(item.raw))
            note(SingleByte, line);
        if (item.raw.size() > kShownValueBytes)
            note(TooLong, line);
    }
    if (openQuote)
        note(OpenQuote, lines.lineAt(text.size()));
    else if (!text.empty() && text.back() != '\n' && text.back() != '\r')
        note(NoFinalLineEnd, lines.lineAt(text.size()));

    report.records = (items + kFieldCount - 1) / kFieldCount;
    report.itemsInLastRecord = items % kFieldCount;
    for (const ListFinding& finding : found)
        if (finding.count != 0)
            report.findings.push_back(finding);
    return report;
}

} // namespace tesselby
