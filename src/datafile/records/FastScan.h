#pragma once

#include <cstdint>
#include <string_view>

#include "records/Field.h"

namespace tesselby {

// The program writes each item on a line of its own: a quote, the value, a quote, CR LF; four lines
// make a record. Where a file holds only such lines and no value holds a quote or a line break, every
// line is one item, and a text can be searched and cut into records without reading item by item.

// The part of a text, from its start, that is whole records of that form: how many, and their bytes.
struct WrittenPrefix {
    std::size_t count = 0;
    std::size_t bytes = 0; // up to the end of the last of them
};

// Asks a scan to note the records whose field holds a byte, in order, each once. The byte is
// never a quote, CR or LF, which no value of a written line holds.
struct MarkedByte {
    char byte = 0;
    Field field = Field::FirstName;
};

// Puts the offset of each of those records' last LF into recordEnds, and with a byte to mark, the
// number of each record that holds it into marked; each must have room for writtenRecordsRoom(text.size())
// numbers. Says how many records it marked in markedCount. Text must be shorter than 4 GiB.
WrittenPrefix scanWrittenRecords(std::string_view text, std::uint32_t* recordEnds);
WrittenPrefix scanWrittenRecords(std::string_view text, std::uint32_t* recordEnds, MarkedByte mark,
                                 std::uint32_t* marked, std::size_t& markedCount);

// Room for the most records a text of this size can hold (the shortest, four empty values, takes 16
// bytes), and for a few more that the scan may write past the last.
constexpr std::size_t writtenRecordsRoom(std::size_t textBytes)
{
    return textBytes / 16 + 8;
}

} // namespace tesselby
