#pragma once

#include <cstdint>
#include <string_view>

namespace tesselby {

// The program writes each item on a line of its own: a quote, the value, a quote, CR LF. Where a file
// holds only such lines and no value holds a quote or a line break, every line is one item, and a
// text can be searched and cut into records without reading item by item.

// The longest stretch from the start of a text, which starts a line, made of whole lines of that form.
struct WrittenLines {
    std::size_t bytes = 0;
    std::size_t lines = 0;
};
// Also puts the offset of each of those lines' LF into lineEnds, which must have room for
// writtenLinesRoom(text.size()) offsets. Text must be shorter than 4 GiB.
WrittenLines scanWrittenLines(std::string_view text, std::uint32_t* lineEnds);
// Room for the most lines a text of this size can hold (the shortest, an empty value, takes four
// bytes), and for a few more that the scan may write past the last.
constexpr std::size_t writtenLinesRoom(std::size_t textBytes)
{
    return textBytes / 4 + 8;
}

} // namespace tesselby
