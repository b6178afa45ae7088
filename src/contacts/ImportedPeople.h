#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "memory/LargeBlock.h"
#include "records/Record.h"

namespace tesselby {

// A hash of a person's four values, the same for a Record and for the views a list's values are read as.
template <typename Values> std::uint64_t hashOfValues(const Values& values)
{
    std::uint64_t hash = 0;
    for (const auto& value : values)
        hash = (hash ^ std::hash<std::string_view>{}(std::string_view(value))) * 0x9E3779B97F4A7C15ULL;
    return hash;
}

// The people an import read, kept as the list writes them (four item lines each, see appendItem) in one
// block, with where each ends and a hash of its values. An import of a large file then holds each person
// once, in the bytes it appends, rather than as strings and again as the text written: fewer fresh pages
// to touch (slow on some machines) and nothing to copy before the append. Read back, a record is a copy.
class ImportedPeople {
public:
    class Iterator {
    public:
        Iterator(const ImportedPeople& records, std::size_t at) : m_records(&records), m_at(at) {}
        Record operator*() const { return (*m_records)[m_at]; }
        Iterator& operator++()
        {
            ++m_at;
            return *this;
        }
        bool operator==(const Iterator& other) const { return m_at == other.m_at; }

    private:
        const ImportedPeople* m_records;
        std::size_t m_at;
    };

    void push_back(const Record& record);
    // Adds other's people after these; a failure leaves these as they were.
    void append(const ImportedPeople& other);
    // Room for this many people's ends, taken once; the text grows without copying.
    void reserve(std::size_t records) { m_ends.reserve(records); }

    std::size_t size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }
    Record operator[](std::size_t record) const;
    Iterator begin() const { return {*this, 0}; }
    Iterator end() const { return {*this, size()}; }

    // Every record's item lines, in order: what an append writes.
    std::string_view text() const { return m_text.view(); }
    std::string_view recordText(std::size_t record) const;
    std::uint64_t hash(std::size_t record) const { return m_ends[record].hash; }

    // Keeps only the records that drop does not mark, in their order, moving their text in place.
    void dropMarked(const std::vector<bool>& drop);

    bool operator==(const ImportedPeople& other) const { return text() == other.text(); }
    bool operator==(const std::vector<Record>& records) const;

private:
    struct End {
        std::uint64_t hash;
        std::size_t end; // of the record's text
    };

    LargeBlock m_text;
    std::vector<End> m_ends;
    std::string m_scratch;
};

} // namespace tesselby
