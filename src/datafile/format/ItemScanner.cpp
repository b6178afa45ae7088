#include "format/ItemScanner.h"

#include "format/TextEncoding.h"

namespace tesselby {

namespace {

void appendUnescaped(std::string& out, std::string_view raw)
{
    // Every quote in a scanned value is one of a pair: a lone quote would have ended it.
    for (std::size_t i = 0; i < raw.size(); ++i) {
        out.push_back(raw[i]);
        if (raw[i] == '"' && i + 1 < raw.size() && raw[i + 1] == '"')
            ++i;
    }
}

void appendAsUtf8(std::string& out, std::string_view bytes)
{
    if (isValidUtf8(bytes))
        out.append(bytes);
    else
        appendWindows1252AsUtf8(out, bytes);
}

// Where a value's bytes may be cut for showing: not inside a UTF-8 character, not between the two
// quotes that stand for one.
std::size_t safeCut(std::string_view raw, std::size_t limit, bool doubledQuotes)
{
    std::size_t end = limit;
    for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80; ++back)
        --end;
    if (doubledQuotes) {
        std::size_t run = 0;
        while (run < end && raw[end - 1 - run] == '"')
            ++run;
        end -= run % 2;
    }
    return end;
}

} // namespace

ValueStart valueStart(RawItem item, std::size_t maxBytes)
{
    ValueStart start;
    start.storedBytes = item.raw.size();
    if (item.raw.size() > maxBytes) {
        item.raw = item.raw.substr(0, safeCut(item.raw, maxBytes, item.doubledQuotes));
        start.cut = true;
    }
    start.text = decodeItem(item);
    return start;
}

void appendDecodedItem(std::string& out, const RawItem& item)
{
    if (!item.doubledQuotes) {
        appendAsUtf8(out, item.raw);
        return;
    }
    std::string unescaped;
    unescaped.reserve(item.raw.size());
    appendUnescaped(unescaped, item.raw);
    appendAsUtf8(out, unescaped);
}

std::string decodeItem(const RawItem& item)
{
    std::string value;
    appendDecodedItem(value, item);
    return value;
}

} // namespace tesselby
