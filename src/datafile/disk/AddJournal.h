#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "disk/NativeFile.h"
#include "Result.h"

namespace tesselby {

// An add writes what it appends, and where, into a journal beside the list before it appends, and removes
// the journal once the add is whole on the disk: that removal is the add's point of no return. A journal
// still there therefore belongs to an add that was never reported as done (killed, cut off by a power
// failure), and what that add wrote is taken back. A cut tail without a journal is someone else's text
// (a hand edit, an older version's add) and is left alone.

// The journal's name beside the list: the list's name with this added.
inline constexpr char kAddingSuffix[] = ".adding";
// A journal that did not prove what the list's tail is gets this and a unique ending, and is kept.
inline constexpr char kSetAsideMarker[] = ".adding-set-aside-";

std::filesystem::path addJournalPath(const std::filesystem::path& target);

// Writes the journal of an add of bytes at the end of list, which has identity and before bytes, and
// makes it durable; never over an existing entry and never through a link.
Status writeAddJournal(const std::filesystem::path& target, const FileIdentity& identity, std::uint64_t before,
                       std::string_view bytes);

// Removes the journal and makes that durable.
Status removeAddJournal(const std::filesystem::path& target);

// Whether an add's journal, or anything of its name, is beside the list.
bool addWasInterrupted(const std::filesystem::path& target);

// Under the lock: takes back what the add of a journal left beside the list wrote, if the journal proves
// it (the list the same file, its size between the size before the add and after it, its tail a start of
// what the add wrote), then removes the journal. Otherwise the journal is set aside under a name of its
// own (see setAsideAddJournals) and the list is not touched.
Status takeBackInterruptedAdd(const std::filesystem::path& target);

// Takes the tail back from file, the list as it was opened by the add, when file is exactly before
// bytes and then bytes: true when the file is then as it was before the add.
bool takeBackTail(NativeFile& file, std::uint64_t before, std::string_view bytes);

// Whether file holds bytes from offset at.
Result<bool> holdsAt(NativeFile& file, std::uint64_t at, std::string_view bytes);

// The journals set aside beside the list, for check to report.
std::vector<std::filesystem::path> setAsideAddJournals(const std::filesystem::path& target);

} // namespace tesselby
