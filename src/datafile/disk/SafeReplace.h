#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "ByteStreams.h"
#include "Result.h"
#include "disk/NativeFile.h"

namespace tesselby {

// A replacement of the content of the file at target (a final target, not a link), made so that a kill
// or a power cut at any moment leaves the old content or the new, never a mix. The file keeps its
// identity: owner, group, permissions, access lists, extended attributes and every hard link. Where a
// new file can carry all of that, the new content is written beside target, synced and renamed over it.
// Where it cannot, target is rewritten in place, guarded by a synced copy (beside it, kBeforeSaveSuffix)
// that names the file it guards and holds its old content and the new, which restoreFromSaveGuard puts
// back only while the file is provably what the cut-off rewrite left. On failure, or when the
// replacement is dropped uncommitted, the file is as it was and nothing is left beside it. Once the change
// has landed (the rename, or the rewrite synced), a failure after it is a success that says what could
// not be confirmed (Status::unconfirmed), never a failure.
// Calling sequence: begin; write the new content, in order, into content(); prepare, which makes it safe
// on the disk beside the file; commit once, which puts it in the file's place. prepare may be left to
// commit; called first, it lets the caller make sure, as late as can be, that the file is still what the
// content was made for. The caller holds the file's lock throughout.
class ContentReplacement {
public:
    static Result<ContentReplacement> begin(const std::filesystem::path& target);

    ContentReplacement(ContentReplacement&&) noexcept;
    ContentReplacement& operator=(ContentReplacement&&) noexcept;
    ~ContentReplacement();

    ByteSink& content();
    Status prepare();
    // Fails with Cause::ChangedMeanwhile, having changed nothing, when a file rewritten in place was
    // replaced or changed in length by another program since prepare.
    Status commit();

    struct State;

private:
    explicit ContentReplacement(std::unique_ptr<State> state);

    std::unique_ptr<State> m_state; // where it stays as the replacement moves: content() points into it
};

// Puts back the content a save had guarded when that save was cut off while rewriting target in place:
// only when target is still the file it rewrote and holds what a cut-off rewrite leaves, its new content
// up to some point and its old after it. A guard of a save that landed, or that never began, is removed.
// Anything else at the guard's name (a link, another user's file, a guard of a file replaced or changed
// since, one of an older version) is never used: it is set aside under a name of its own, and the
// failure returned says so, once; or, for a file that is not the list, in a folder that may be another
// user's, it is left alone. The caller holds the file's lock.
enum class StrayGuard { SetAside, LeaveAlone };
Status restoreFromSaveGuard(const std::filesystem::path& target, StrayGuard stray = StrayGuard::SetAside);

// Whether a file stands at the guard's name and restoreFromSaveGuard has work to do.
bool saveGuardLeft(const std::filesystem::path& target);

} // namespace tesselby
