#pragma once

#include <string>
#include <string_view>

namespace tesselby {

// The UTF-8 text with Unicode's full case folding applied ("Zoë" and "ZOË" give "zoë", "Straße" gives
// "strasse"), so that two texts that differ only in case fold to the same bytes. Bytes that are not
// UTF-8 are kept as they are. Canonically equivalent forms (a letter and its accent apart) are not
// joined.
std::string foldCase(std::string_view text);

} // namespace tesselby
