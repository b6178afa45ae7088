#pragma once

#include <cstddef>
#include <string_view>

#include "Result.h"
#include "records/MatchList.h"
#include "records/RecordStream.h"

namespace tesselby {

// Finds every whole record whose field contains a text, compared exactly, in file order. An empty
// text matches every non-empty field; an empty field matches nothing. The items of a trailing
// incomplete record are never tested.
//
// The list streams through one buffer, kept from search to search (see RecordStream). Where it stands
// as the program writes it, the text is looked for in the buffer at once and each find is placed by its
// line; anything else is read item by item, with the same results.
class RecordSearch {
public:
    static constexpr std::size_t kDefaultChunkBytes = RecordStream::kDefaultChunkBytes;

    explicit RecordSearch(std::size_t chunkBytes = kDefaultChunkBytes);

    // Replaces what matches holds with what this search finds; on failure, with nothing.
    Status run(const ByteSource& source, Field field, std::string_view text, MatchList& matches);

private:
    RecordStream m_stream;
};

// The same over a text in memory.
MatchList searchText(std::string_view fileText, Field field, std::string_view text,
                     std::size_t chunkBytes = RecordSearch::kDefaultChunkBytes);

} // namespace tesselby
