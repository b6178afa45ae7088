#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "ItemReader.h"
#include "LargeBlock.h"
#include "Record.h"

namespace tesselby {

// The records a search found, in file order. They are kept as their bytes, four item lines each as the
// program writes them, one after another in one block, and decoded only when one is shown: a search
// that finds most of a large list then needs about the list's size once, not a string per value.
class MatchList {
public:
    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    // Empties the list, keeping its memory for the next search to fill.
    void clear();
    // Gives back the memory the matches held now do not use.
    void releaseUnused();

    // Adds a record given as its four item lines exactly as the program writes them.
    void addWrittenLines(std::string_view lines);
    // Adds a record given as the items read from a file, written as the program would write them.
    void addItems(const std::array<RawItem, kFieldCount>& items);
    void addRecord(const Record& values);

    // Match index (0-based) decoded, or only the beginning of one of its values (field 0..3).
    Record record(std::size_t index) const;
    ValueStart valueStart(std::size_t index, int field, std::size_t maxBytes) const;

private:
    static constexpr std::size_t kIndexEvery = 16;

    void noteStart();
    std::array<RawItem, kFieldCount> items(std::size_t index) const;

    LargeBlock m_bytes;
    // Where every kIndexEvery-th match starts; those between are found by reading on from there.
    std::vector<std::size_t> m_starts;
    std::size_t m_count = 0;
};

} // namespace tesselby
