#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "ImportedPeople.h"
#include "records/Record.h"

namespace tesselby {

// Something in an imported file that could not be read, at the line (from 1) where it starts.
struct ContactProblem {
    std::size_t line = 0;
    std::string message;
};

// Kinds of value that a card or row may carry and the four fields cannot hold.
enum class DroppedKind {
    Address,
    Photo,
    ExtraPhone,
    ExtraEmail,
    Note,
    Organisation,
    JobTitle,
    Date,
    WebAddress,
    Nickname,
    Other,
};
inline constexpr int kDroppedKinds = 11;

// How many values of each kind an import left out, so that none goes without a word.
struct DroppedValues {
    std::array<std::size_t, kDroppedKinds> counts{};

    void add(DroppedKind kind, std::size_t count = 1) { counts[static_cast<int>(kind)] += count; }
    std::size_t count(DroppedKind kind) const { return counts[static_cast<int>(kind)]; }
    // "12 addresses, 3 photos", the kinds found in a fixed order; empty when none was dropped.
    std::string describe() const;
};

// What a file to import held: the people read, in file order, what was skipped, and what the people
// read carried that their four fields could not hold.
struct ContactsRead {
    ImportedPeople records;
    std::vector<ContactProblem> problems;
    DroppedValues dropped;
};

} // namespace tesselby
