#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>

#include "HttpClient.h"
#include "SyncPlan.h"

namespace tesselby {

class ProgressLine;

struct SyncOptions {
    std::string addressBook; // the address book's own URL
    std::filesystem::path list;
    std::filesystem::path state;
    ConflictChoice conflict = ConflictChoice::Keep;
    bool dryRun = false;
    bool allowMassRemoval = false;
    std::string cardVersion;          // what the book takes, when this run found the book; else asked when needed
    std::istream* answers = nullptr;  // --conflict ask: where the answers are read, a line each
    ProgressLine* progress = nullptr; // on a terminal: the counts of cards fetched and sent
};

// What a sync came to, for the exit status.
enum class SyncOutcome { Done, Conflicts, Failed };

// Syncs the list with the address book, both ways (see planSync for how people and cards are matched),
// saying on out what changed on each side and on err what went wrong. Writes to the server come first,
// then the list, then the state; a sync cut off anywhere is put right by the next, which finds the
// people on both sides by their values.
SyncOutcome syncAddressBook(HttpClient& http, const SyncOptions& options, std::ostream& out, std::ostream& err);

} // namespace tesselby
