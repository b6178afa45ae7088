#pragma once

#include <string>
#include <string_view>

namespace tesselby {

// UTF-8's byte-order mark, which some editors put at the start of a file; it is not part of the text.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isValidUtf8(std::string_view bytes);
// How many bytes from the start form whole, valid UTF-8 characters.
std::size_t validUtf8Prefix(std::string_view bytes);

// Older files hold single-byte Windows-1252 text; this turns such bytes into UTF-8.
void appendWindows1252AsUtf8(std::string& out, std::string_view bytes);

} // namespace tesselby
