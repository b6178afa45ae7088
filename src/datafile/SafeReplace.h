#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "NativeFile.h"
#include "Result.h"

namespace tesselby {

// Replaces the content of the file at target (a final target, not a link) with pieces, written in order,
// so that a kill or a power cut at any moment leaves the old content or the new, never a mix. The file
// keeps its identity: owner, group, permissions, access lists, extended attributes and every hard link.
// Where a new file can carry all of that, it is written beside target, synced and renamed over it.
// Where it cannot, target is rewritten in place, guarded by a synced copy of its old content that
// restoreInterruptedSave puts back if the rewrite was cut off. On failure the file is as it was.
// The caller holds the data file's lock.
Status replaceFileContent(const std::filesystem::path& target, const std::vector<std::string_view>& pieces);

// New content of a file: how long it is, and what writes it to a file opened at its start.
// Why a save failed when its content's goAhead said no.
inline constexpr char kChangedMeanwhile[] = "another program changed it while the save was being made";

struct FileContent {
    std::uint64_t size = 0;
    std::function<Status(NativeFile&)> writeTo;
    // Asked, when set, once the new content is ready and before it takes the file's place: false
    // leaves the file as it was, and the save fails.
    std::function<bool()> goAhead;
};
// The same for content written piece by piece, that need not be in memory whole.
Status replaceFileContent(const std::filesystem::path& target, const FileContent& content);

// Puts back the content a save had guarded when that save was cut off while rewriting target in place.
// The caller holds the data file's lock.
Status restoreInterruptedSave(const std::filesystem::path& target);

// Whether a save of target was cut off and restoreInterruptedSave has work to do.
bool saveWasInterrupted(const std::filesystem::path& target);

} // namespace tesselby
