#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "HttpClient.h"
#include "SyncPlan.h"

namespace tesselby {

struct SyncOptions {
    std::string addressBook; // the address book's own URL
    std::filesystem::path list;
    std::filesystem::path state;
    ConflictChoice conflict = ConflictChoice::Keep;
    bool dryRun = false;
    bool allowMassRemoval = false;
};

// What a sync came to, for the exit status.
enum class SyncOutcome { Done, Conflicts, Failed };

// Syncs the list with the address book, both ways (see planSync for how people and cards are matched),
// saying on out what changed on each side and on err what went wrong. Writes to the server come first,
// then the list, then the state; a sync cut off anywhere is put right by the next, which finds the
// people on both sides by their values.
SyncOutcome syncAddressBook(HttpClient& http, const SyncOptions& options, std::ostream& out, std::ostream& err);

} // namespace tesselby
