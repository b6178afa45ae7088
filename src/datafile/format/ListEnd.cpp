#include "format/ListEnd.h"

#include <cstring>

#include "format/ItemScanner.h"
#include "format/ItemWriter.h"
#include "records/Record.h"

namespace tesselby {

namespace {

// Scans items through a buffer that fill tops up: fill(into, wanted) gives how many bytes it put
// there, 0 at the end. An item that reaches the end of what the buffer holds is scanned again once
// more has been read, so each is seen whole; the buffer grows only for an item larger than itself.
template <typename Fill> Result<ListEnd> scanItems(Fill fill, std::size_t bufferSize)
{
    std::string buffer(bufferSize, '\0');
    std::size_t held = 0;
    bool atFileStart = true;
    bool afterComma = false;
    bool atEnd = false;
    ListEnd end;
    for (;;) {
        while (!atEnd && held < buffer.size()) {
            const Result<std::size_t> got = fill(buffer.data() + held, buffer.size() - held);
            if (!got)
                return got.error();
            atEnd = got.value() == 0;
            held += got.value();
        }
        ItemScanner scanner(std::string_view(buffer.data(), held), atFileStart, afterComma);
        RawItem item;
        std::size_t resume = 0;
        bool resumeAfterComma = afterComma;
        for (;;) {
            const std::size_t before = scanner.offset();
            const bool commaBefore = scanner.afterComma();
            const bool found = scanner.next(item);
            if (!atEnd && (!found || scanner.offset() == held)) {
                resume = before;
                resumeAfterComma = commaBefore;
                break;
            }
            if (!found) {
                if (held > 0)
                    end.endsALine = buffer[held - 1] == '\n' || buffer[held - 1] == '\r';
                return end;
            }
            ++end.items;
            end.insideQuote = atEnd && item.quoted && item.raw.data() + item.raw.size() == buffer.data() + held;
        }
        if (resume == 0 && held == buffer.size())
            buffer.resize(buffer.size() * 2);
        std::memmove(buffer.data(), buffer.data() + resume, held - resume);
        held -= resume;
        atFileStart = atFileStart && resume == 0;
        afterComma = resumeAfterComma;
    }
}

} // namespace

std::string ListEnd::completion() const
{
    std::string lines;
    if (insideQuote)
        lines.push_back('"');
    if (insideQuote || !endsALine)
        lines.append(kLineEnd);
    for (std::uint64_t missing = (kFieldCount - items % kFieldCount) % kFieldCount; missing > 0; --missing)
        appendItem(lines, {});
    return lines;
}

Result<ListEnd> scanListEnd(const ByteSource& source)
{
    return scanItems(source, 256 * 1024);
}

ListEnd listEndOf(std::string_view text)
{
    // A small buffer, so that the fuzz target tries items that reach across its edge.
    const Result<ListEnd> end = scanItems(
        [&](char* into, std::size_t wanted) -> Result<std::size_t> {
            const std::size_t given = std::min(wanted, text.size());
            std::memcpy(into, text.data(), given);
            text.remove_prefix(given);
            return given;
        },
        16);
    return end.value();
}

} // namespace tesselby
