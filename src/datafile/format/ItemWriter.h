#pragma once

#include <string>
#include <string_view>

#include "format/ItemScanner.h"

namespace tesselby {

// How the program ends every line it writes, whatever ends the lines it reads.
inline constexpr std::string_view kLineEnd = "\r\n";

// Appends one item line: a quote, the value with each quote doubled, a quote, CR LF. Line breaks stay
// inside the quotes, so every value reads back exactly as it was given.
void appendItem(std::string& out, std::string_view value);

// Appends an item as it was read, keeping its bytes (older single-byte text included) unchanged.
void appendItemAsRead(std::string& out, const RawItem& item);

} // namespace tesselby
