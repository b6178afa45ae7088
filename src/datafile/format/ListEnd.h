#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ByteStreams.h"
#include "Result.h"

namespace tesselby {

// How a data file ends, as far as an add cares: a torn add or a hand edit may leave an incomplete last
// record, an open quote or no final line end, and an add must start a record of its own after them.
struct ListEnd {
    std::uint64_t items = 0;
    bool insideQuote = false; // the last item's quote is never closed
    bool endsALine = true;    // the last byte is a line end (or there is none)

    // What an add writes before its record so that the record stands on its own and nothing already
    // in the file reads differently: the quote closed, the line ended, the last record completed with
    // empty items.
    std::string completion() const;
};

// Reads what is left of a file from source, through one small buffer.
Result<ListEnd> scanListEnd(const ByteSource& source);

// The same for a file's text in memory.
ListEnd listEndOf(std::string_view text);

} // namespace tesselby
