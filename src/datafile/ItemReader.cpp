#include "ItemReader.h"

#include "TextEncoding.h"

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

} // namespace

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
