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
    "another program changed the list during the sync; its changes were kept and the sync goes over them again";

// The address list as a sync reads and changes it. The sync's changes of it are one change of the list,
// and one entry in its history: an add of new people at the end when that is all, else one rewrite under
// the list's lock that keeps the file's identity and every untouched person's bytes.
class LocalList {
public:
    static Result<LocalList> read(const std::filesystem::path& path);

    const std::vector<Record>& people() const { return m_people; }

    // Gives people (by their index in people()) new values, removes people and adds new ones at the end,
    // all or nothing; refused with kListChangedDuringSync, nothing written, when the list is no longer
    // what read() found. where names the address book in the history's words for the change. The list is
    // read again for anything after: people() stays the list as it was read.
    Status apply(const std::vector<std::pair<std::size_t, Record>>& changes, const std::vector<std::size_t>& removals,
                 const std::vector<const Record*>& adds, const std::string& where);

private:
    std::filesystem::path m_path;
    std::string m_text;
    std::vector<Record> m_people;
};

} // namespace tesselby
