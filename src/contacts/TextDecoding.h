#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ContactProblem.h"

namespace tesselby {

// A file's bytes as UTF-8 text: a UTF-8 byte-order mark dropped, UTF-16 (by its byte-order mark, or by
// the zero bytes of ASCII text without one) turned into UTF-8. A broken UTF-16 character (half of a
// pair, or a last byte alone) becomes U+FFFD and is named in broken, by its line (lines end in CR LF, LF
// or CR, as the readers count them), so that only the card or row it is in need be skipped.
struct DecodedText {
    std::string text;
    std::vector<ContactProblem> broken; // in line order
};
DecodedText decodeFileText(std::string_view bytes);

// A value's bytes in a named character set as UTF-8; nothing for a set this program does not know.
// Without a name, bytes that are not valid UTF-8 are read as Windows-1252, as the list's older items are.
std::optional<std::string> charsetToUtf8(std::string_view bytes, std::string_view charset);

// Appends one character, by its code point, to out in UTF-8.
void appendUtf8(std::string& out, std::uint32_t code);

// ASCII letters compared without case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);
std::string upperAscii(std::string_view text);

} // namespace tesselby
