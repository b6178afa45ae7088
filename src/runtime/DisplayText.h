#pragma once

#include <QString>
#include <cstddef>
#include <string_view>

#include "ShownValueBytes.h"

namespace tesselby {

// The text that shows a value: its UTF-8 text as it is, or, when cut, the beginning given followed by
// a mark that says the value goes on and how long it is (storedBytes).
QString displayText(std::string_view text, bool cut = false, std::size_t storedBytes = 0);

// The same for a whole value held in memory, cut to kShownValueBytes where needed.
QString displayValue(std::string_view value);

} // namespace tesselby
