#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Result.h"
#include "records/Record.h"

namespace tesselby {

// Why a sync's change of the list was refused.
inline constexpr char kListChangedDuringSync[] =
    "another program changed the list during the sync; nothing was changed in it (run the sync again)";

// The address list as a sync reads and changes it. Every change of people already in the list goes
// through apply(), one whole rewrite under the list's lock, so that the sync's changes are one step.
//
// Calling sequence: read(), people() for the plan, then apply() for changes and removals, then add()
// for new people (whole or nothing, as an import adds them).
class LocalList {
public:
    static Result<LocalList> read(const std::filesystem::path& path);

    const std::vector<Record>& people() const { return m_people; }

    // Gives people (by their index in people()) new values or removes them, in one rewrite of the list
    // that keeps the file's identity; refused, with nothing written, when the list is no longer what
    // read() found.
    Status apply(const std::vector<std::pair<std::size_t, Record>>& changes, const std::vector<std::size_t>& removals);
    // Adds people at the list's end, all or none.
    Status add(const std::vector<Record>& people);

private:
    std::filesystem::path m_path;
    std::string m_text;
    std::vector<Record> m_people;
};

} // namespace tesselby
