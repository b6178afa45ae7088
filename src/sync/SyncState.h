#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "SyncPlan.h"

namespace tesselby {

// What the sync keeps between runs, in a file of its own: the address book it syncs with, the server's
// sync-token for it, and one link per person and card. The list holds no IDs, so a person is found
// again by the four values the link keeps (duplicates by the order they stand in).
//
// The file is text: a first line "tesselby-sync 1", then lines of tab-separated fields, each with \\,
// \t, \n and \r escaped: "book URL", "list PATH" (the list's own path, links followed), "token TOKEN",
// "vcard VERSION" (the version new cards are written in, once the book was asked) and
// "link HREF ETAG UID FIRST LAST PHONE EMAIL"; "sent" and "taken" lines, shaped as links, are writes a
// sync began and may not have seen land.
struct SyncState {
    std::string addressBook = {};
    std::string list = {};
    std::string syncToken = {};
    std::vector<CardLink> links = {};
    std::string cardVersion = {}; // "3.0" or "4.0"; empty until the book was asked
    // Written before a sync's writes, for a person written on one side only (the other side held the
    // values already): the card at href was sent these values (sent), or the list was given them
    // (taken). A sync killed after the write but before its state was written finds the write landed
    // when that side holds them, and links by them, so that an edit made since is not taken for a new
    // person or a conflict.
    std::vector<CardLink> sent = {};
    std::vector<CardLink> taken = {};
};

std::string stateText(const SyncState& state);
// One line of a link's shape (kind "link", "sent" or "taken"), for a state written without copying its
// links into it.
void appendStateLine(std::string& out, std::string_view kind, std::string_view href, std::string_view etag,
                     std::string_view uid, const Record& values);
// Appends the next lines to its argument and says whether more follow.
using MoreLines = std::function<bool(std::string&)>;
// Nothing when the text is not a state the program wrote; the sync then starts again as a first one.
std::optional<SyncState> parseState(std::string_view text);

// $XDG_STATE_HOME/tesselby (~/.local/state/tesselby) and $XDG_CONFIG_HOME/tesselby (~/.config/tesselby).
std::filesystem::path stateFolder();
std::filesystem::path configFolder();

// Reads the state at path: an empty one when there is no file, nothing (with damaged set) when the
// file cannot be read as a state.
Result<SyncState> readStateFile(const std::filesystem::path& path, bool& damaged);
// Replaces a file of the sync's own whole, readable by the user alone, in its folder (made private
// when it is made), so that a kill leaves the old content or the new.
Status writePrivateFile(const std::filesystem::path& path, std::string_view text);
// Replaces the state file whole, private to the user, so a kill leaves the old state or the new: the
// state's own lines, then those more gives.
Status writeStateFile(const std::filesystem::path& path, const SyncState& state, const MoreLines& more = {});

} // namespace tesselby
