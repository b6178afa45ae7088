#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tesselby {

// Where each record of a loaded list ends in its text, with two flags per record, in four bytes a
// record: the low bits of each end, and for each run of ends sharing their high bits the first record
// of the run. Half the size of whole offsets matters, as the index of ten million people is fresh
// memory the size of a tenth of the list.
class RecordEnds {
public:
    // Flags carried in the top bits of an end, as put in and as given back.
    static constexpr std::size_t kAfterComma = std::size_t(1) << (sizeof(std::size_t) * 8 - 1);
    static constexpr std::size_t kEndsALine = kAfterComma >> 1;
    static constexpr std::size_t kFlags = kAfterComma | kEndsALine;

    void reserve(std::size_t records) { m_low.reserve(records); }
    std::size_t size() const { return m_low.size(); }
    bool empty() const { return m_low.empty(); }

    // An end with its flags. Ends are put in order: none before the one put in last.
    void push_back(std::size_t endAndFlags);
    std::size_t operator[](std::size_t index) const;
    std::size_t back() const { return (*this)[size() - 1]; }

    // Gives records [first, first + ends.size()) the ends given (offsets with flags), and moves every
    // later end by newTail - oldTail, keeping its flags. The number of records stays.
    void rewrite(std::size_t first, const std::vector<std::size_t>& ends, std::size_t oldTail, std::size_t newTail);

private:
    // The entry for the end of record index, noting the runs that begin there.
    std::uint32_t entryAt(std::size_t index, std::size_t endAndFlags);
    std::size_t decode(const std::vector<std::size_t>& runStarts, std::size_t index) const;

    std::vector<std::uint32_t> m_low;
    // m_runStarts[k]: the first record whose end's high bits are k or more.
    std::vector<std::size_t> m_runStarts;
};

} // namespace tesselby
