#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ImportedPeople.h"
#include "Result.h"
#include "records/Record.h"
#include "records/RecordStream.h"

namespace tesselby {

// Leaves out of an import the people already in the list or earlier in the same import: those whose
// four values equal theirs exactly, as the list's values read (an item of an older file in Windows-1252
// is compared as the UTF-8 it stands for, as the screens show it).
//
// Calling sequence: construct on the records read, then keepNew with the list as it stands (under the
// append's lock, as an AppendChoice), then skipped() for the summary. Only the records and a hash and
// an index for each are held; the list streams through.
class NewPeople {
public:
    explicit NewPeople(ImportedPeople& records);

    // Drops from the records the people already there, keeping the others in their order: their text.
    Result<std::string_view> keepNew(const ByteSource& list);
    std::size_t skipped() const { return m_skipped; }

private:
    void markIfKnown(const PerField<std::string_view>& values);

    ImportedPeople& m_records;
    std::vector<std::pair<std::uint64_t, std::size_t>> m_hashes; // sorted, with each record's index
    std::vector<bool> m_known;
    std::string m_written; // a list record's values as the records hold theirs
    std::size_t m_skipped = 0;
};

} // namespace tesselby
