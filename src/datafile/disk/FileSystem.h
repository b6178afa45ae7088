#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "Result.h"
#include "disk/NativeFile.h"

namespace tesselby {

// Marks a file that a save writes beside the data file, so one a killed process left can be recognised.
inline constexpr char kTemporaryMarker[] = ".saving-";
// The name beside the data file of its full copy while a save rewrites it in place.
inline constexpr char kBeforeSaveSuffix[] = ".before-save";

// The folder a file's entry is in ("." for a bare name).
std::filesystem::path folderOf(const std::filesystem::path& path);

// The file a path finally names: every symbolic link on the way is followed, so that a write replaces
// the target and keeps the links. A link to a missing file gives the missing file's path.
Result<std::filesystem::path> finalTarget(const std::filesystem::path& path);

// The file a path finally names, as finalTarget gives it, for a write that must not be steered into
// another user's file: a symbolic link anywhere on the way is followed only when nobody but the running
// user or the superuser could have made or changed it (see checkLinkTrusted), and a link to a missing
// file is refused, so that no link creates a file elsewhere. The failure names path. Without a link on
// the way, path itself is given back.
Result<std::filesystem::path> trustedFinalTarget(const std::filesystem::path& path);

// Creates the file's missing folders, owner-only, each one durably before the next.
Status ensureParentFolder(const std::filesystem::path& file);

// A new file beside path, named path's name, kTemporaryMarker and something unique; path is not touched.
// It is locked for as long as it is open, which tells removeLeftoverTemporaries that its maker lives.
Result<NativeFile> createTemporaryBeside(const std::filesystem::path& path);

// Removes what saves killed midway left beside path: only files that carry path's temporary marker and
// that nobody holds open and locked, as a running save or export does.
void removeLeftoverTemporaries(const std::filesystem::path& path);

// Whether file, found at a name only the program's own files have, may be one the program made: a file
// of the running user's (or, for the superuser, of the owner of list, the file it belongs with).
bool trustedAsOwn(const FileIdentity& file, const FileIdentity& list);

// Refuses a file the user may not write, with the same words as the system's own refusal; a missing
// file passes, since writing creates it. The superuser is refused a file without any write permission.
Status checkWritable(const std::filesystem::path& path);

// What a look at a file, without reading it, tells of its content: which file it is, its size and when
// it was last written. Two equal stamps mean the same content, unless the second write came within the
// time step of the file system's clock (two seconds on FAT, one on older ones): see unchangedSince.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds, on the system's clock
    std::int64_t changed = 0;  // when its status last changed, which no program can set back
    std::int64_t takenAt = 0;  // the system's clock when the stamp was taken
};
// Whether a file stamped now is certain to hold what it held when earlier was taken (before a read of
// it): the same file, size and times, and written long enough before earlier was taken that a later
// write of the same size could not have left the times as they were.
bool unchangedSince(const FileStamp& earlier, const FileStamp& now);
// Whether stamp's write time lies far enough before it was taken that any later write must change it.
bool settled(const FileStamp& stamp);

// The system's calls behind these, in posix/ and windows/.

// Where the symbolic link at path points, as written in it; nothing when path is no link or missing.
Result<std::optional<std::filesystem::path>> readLink(const std::filesystem::path& path);
// Whether the symbolic link at link (an absolute path whose folders are no links) is one only the running
// user or the superuser could have made or changed: the link and every folder above it are theirs, and
// no folder may be written by others, except that a sticky folder (as /tmp) may hold what belongs to the
// running user or to the folder's owner, as the kernel's protected_symlinks reasons. The reason why not
// otherwise. Every link passes on Windows, where links are not made by other users in shared folders.
Status checkLinkTrusted(const std::filesystem::path& link);
// Whether the existing file at path is one only the running user or the folder's owner could have put
// there: in a sticky folder others may write (as /tmp), another user's file may stand at a name to catch
// what is written to it, as the kernel's protected_regular reasons. Every file passes on Windows.
Status checkFileTrusted(const std::filesystem::path& path);
// What is at path, following links; Cause::Missing when there is nothing.
Result<FileIdentity> identityAt(const std::filesystem::path& path);
// The stamp of what is at path, following links; Cause::Missing when there is nothing.
Result<FileStamp> stampAt(const std::filesystem::path& path);
// What path's own entry is, a link itself rather than what it points to; Cause::Missing when there is nothing.
Result<FileIdentity> entryIdentityAt(const std::filesystem::path& path);
Status makeFolder(const std::filesystem::path& path);
// Puts from in to's place in one step that survives a crash (the folder entry included): to is either
// as it was or replaced. When the move was made but the folder could not be synced, a success that
// says so (Status::unconfirmed).
Status moveOver(const std::filesystem::path& from, const std::filesystem::path& to);
// Gives from the new name to, which must not exist (Cause::Exists when it does): nothing is replaced.
Status moveToNewName(const std::filesystem::path& from, const std::filesystem::path& to);
Status removeFile(const std::filesystem::path& path);
// Makes the folder's entries (a new, renamed or removed file) survive a power cut.
Status syncFolder(const std::filesystem::path& folder);
// Whether the running user may write the existing file at path.
Status checkWriteAccess(const std::filesystem::path& path);
// The value of an environment variable as a path, when it is set to an absolute one (the base directory
// rules ignore a relative one). On Windows read as the system holds it, in UTF-16, so that a user name
// outside the code page still names the folder.
std::optional<std::filesystem::path> absolutePathFromEnvironment(const char* name);

} // namespace tesselby
