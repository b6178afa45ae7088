#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/ItemScanner.h"
#include "memory/TextStore.h"
#include "records/Record.h"

namespace tesselby {

// The records a search found, in file order. They are kept as their bytes, four item lines each as the
// program writes them, one after another in a TextStore, and decoded only when one is shown: a search
// that finds most of a large list then needs about the list's size once, not a string per value.
class MatchList {
public:
    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    void clear();

    // Adds a record given as its four item lines exactly as the program writes them.
    void addWrittenLines(std::string_view lines);
    // Adds a record given as the items read from a file, written as the program would write them.
    void addItems(const std::array<RawItem, kFieldCount>& items);
    void addRecord(const Record& values);

    // Match index (0-based) decoded, or only the beginning of one of its values.
    Record record(std::size_t index) const;
    ValueStart valueStart(std::size_t index, Field field, std::size_t maxBytes) const;

private:
    static constexpr std::size_t kIndexEvery = 16;

    void noteStart();
    void flush() const;
    std::array<RawItem, kFieldCount> items(std::size_t index) const;

    // Matches are added a buffer at a time.
    mutable TextStore m_bytes;
    mutable std::string m_pending;
    // Where every kIndexEvery-th match starts; those between are found by reading on from there.
    std::vector<std::size_t> m_starts;
    std::size_t m_count = 0;
    // The group of matches read last, for paging back and forth among them.
    mutable std::size_t m_readGroup = SIZE_MAX;
    mutable std::string m_groupBytes;
};

} // namespace tesselby
