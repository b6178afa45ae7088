#include "format/ItemWriter.h"

namespace tesselby {

void appendItem(std::string& out, std::string_view value)
{
    out.reserve(out.size() + value.size() + 4);
    out.push_back('"');
    std::size_t from = 0;
    for (std::size_t quote = value.find('"'); quote != std::string_view::npos; quote = value.find('"', from)) {
        out.append(value.substr(from, quote + 1 - from));
        out.push_back('"');
        from = quote + 1;
    }
    out.append(value.substr(from));
    out.push_back('"');
    out.append(kLineEnd);
}

void appendItemAsRead(std::string& out, const RawItem& item)
{
    if (!item.quoted) {
        appendItem(out, item.raw);
        return;
    }
    // A quoted value's raw bytes are already escaped; an unterminated one gains its closing quote.
    out.push_back('"');
    out.append(item.raw);
    out.push_back('"');
    out.append(kLineEnd);
}

} // namespace tesselby
