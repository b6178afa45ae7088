#pragma once

#include <cstddef>

namespace tesselby {

// A value longer than this many bytes is shown by its beginning only: laying out all of a very long
// value would freeze the window at every repaint. Plain C++, for the command that reports such values.
inline constexpr std::size_t kShownValueBytes = 65536;

} // namespace tesselby
