#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "LargeBlock.h"
#include "MatchList.h"
#include "Result.h"

namespace tesselby {

// Where a search reads from: fills into with at most room bytes and says how many, 0 at the end.
using ByteSource = std::function<Result<std::size_t>(char* into, std::size_t room)>;

// Finds every whole record whose field (1..4) contains a text, compared exactly, in file order. An empty
// text matches every non-empty field; an empty field matches nothing. The items of a trailing
// incomplete record are never tested.
//
// The list streams through one buffer, kept from search to search. Where it stands as the program
// writes it (one quoted item a line), the text is looked for in the buffer at once and each find is
// placed by its line; anything else is read item by item, with the same results.
class RecordSearch {
public:
    static constexpr std::size_t kDefaultChunkBytes = std::size_t(1) << 20;

    explicit RecordSearch(std::size_t chunkBytes = kDefaultChunkBytes);

    // Replaces what matches holds with what this search finds. On failure, matches holds what was
    // found before it.
    Status run(const ByteSource& source, int field, std::string_view text, MatchList& matches);

private:
    struct Pass;

    LargeBlock m_buffer;
    std::vector<std::uint32_t> m_lineEnds;
    std::size_t m_chunkBytes;
};

// The same over a text in memory.
MatchList searchText(std::string_view fileText, int field, std::string_view text,
                     std::size_t chunkBytes = RecordSearch::kDefaultChunkBytes);

} // namespace tesselby
