#include "disk/FileSystem.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <system_error>
#include <vector>

namespace tesselby {

std::filesystem::path folderOf(const std::filesystem::path& path)
{
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

bool settled(const FileStamp& stamp)
{
    // The coarsest clock a file system in use keeps write times by: FAT's, two seconds. A write within
    // that step may leave the write time as it was.
    constexpr std::int64_t kCoarsestTimeStep = 2'000'000'000;
    return stamp.modified <= stamp.takenAt - kCoarsestTimeStep;
}

bool unchangedSince(const FileStamp& earlier, const FileStamp& now)
{
    // The status change time only has to be equal, since only a write sets a file's write time forward
    // on its own.
    return settled(earlier) && earlier.device == now.device && earlier.file == now.file && earlier.size == now.size &&
           earlier.modified == now.modified && earlier.changed == now.changed;
}

Result<std::filesystem::path> finalTarget(const std::filesystem::path& path)
{
    std::filesystem::path current = path;
    // The same bound as the system's own, so that a circle of links ends in a message.
    for (int hop = 0; hop <= 40; ++hop) {
        Result<std::optional<std::filesystem::path>> link = readLink(current);
        if (!link)
            return link.error();
        if (!link.value())
            return current;
        const std::filesystem::path& next = *link.value();
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return FileError{path, "it is reached through a circle of symbolic links"};
}

Result<std::filesystem::path> trustedFinalTarget(const std::filesystem::path& path)
{
#ifdef _WIN32
    return finalTarget(path);
#else
    std::error_code failed;
    const std::filesystem::path whole = std::filesystem::absolute(path, failed);
    if (failed)
        return FileError{path, failed.message()};
    // Walked name by name as the system resolves a path, so that a link in a folder's place is judged too,
    // and what has been walked is never a link.
    std::filesystem::path walked = whole.root_path();
    const std::filesystem::path names = whole.relative_path();
    std::deque<std::filesystem::path> ahead(names.begin(), names.end());
    int hops = 0;
    bool nameFromLink = false; // whether the file's own name, not only a folder's, came through a link
    while (!ahead.empty()) {
        const std::filesystem::path name = ahead.front();
        ahead.pop_front();
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            walked = walked.parent_path();
            continue;
        }
        const std::filesystem::path next = walked / name;
        Result<std::optional<std::filesystem::path>> link = readLink(next);
        if (!link)
            return link.error();
        if (!link.value()) {
            walked = next;
            continue;
        }
        if (++hops > 40) // the system's own bound, so that a circle of links ends in a message
            return FileError{path, "it is reached through a circle of symbolic links"};
        if (Status trusted = checkLinkTrusted(next); !trusted)
            return trusted.error().about(path);
        nameFromLink = nameFromLink || ahead.empty();
        const std::filesystem::path& target = *link.value();
        if (target.is_absolute())
            walked = target.root_path();
        const std::filesystem::path targetNames = target.relative_path();
        ahead.insert(ahead.begin(), targetNames.begin(), targetNames.end());
    }
    if (hops == 0)
        return path;
    if (const Result<FileIdentity> there = identityAt(walked);
        nameFromLink && !there && there.error().cause == FileError::Cause::Missing)
        return FileError{path, "it is a symbolic link to a missing file, which is not followed to create one"};
    return walked;
#endif
}

Status ensureParentFolder(const std::filesystem::path& file)
{
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path folder = file.parent_path(); !folder.empty(); folder = folder.parent_path()) {
        const Result<FileIdentity> found = identityAt(folder);
        if (found) {
            if (!found.value().isFolder)
                return FileError{file, FileError::Cause::FileInPlaceOfFolder};
            break;
        }
        if (found.error().cause != FileError::Cause::Missing)
            return found.error();
        missing.push_back(folder);
        if (folder == folder.parent_path())
            break;
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (Status made = makeFolder(*folder); !made && made.error().cause != FileError::Cause::Exists)
            return made;
        if (Status synced = syncFolder(folderOf(*folder)); !synced)
            return synced;
    }
    return {};
}

Result<NativeFile> createTemporaryBeside(const std::filesystem::path& path)
{
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    for (unsigned attempt = 0;; ++attempt) {
        std::filesystem::path candidate = path;
        candidate += kTemporaryMarker;
        candidate += std::to_string(now) + "-" + std::to_string(counter++);
        Result<NativeFile> file = NativeFile::createNew(candidate);
        if (!file && (file.error().cause != FileError::Cause::Exists || attempt == 100))
            return file;
        if (!file)
            continue;
        // Locked at once; another program's cleanup may have taken it for a leftover in between, and then
        // it is made again under another name.
        const Result<bool> locked = file.value().tryLock();
        if (!locked)
            return locked.error();
        const Result<FileIdentity> made = file.value().identity();
        const Result<FileIdentity> there = identityAt(candidate);
        if (locked.value() && made && there && made.value().sameFileAs(there.value()))
            return file;
        if (attempt == 100)
            return FileError{candidate, "another program kept removing the program's new files beside it"};
    }
}

void removeLeftoverTemporaries(const std::filesystem::path& path)
{
    std::filesystem::path prefixPath = path.filename();
    prefixPath += kTemporaryMarker;
    const std::filesystem::path::string_type prefix = prefixPath.native();
    std::error_code failed;
    std::filesystem::directory_iterator entry(folderOf(path), failed);
    for (; !failed && entry != std::filesystem::directory_iterator(); entry.increment(failed)) {
        const std::filesystem::path::string_type name = entry->path().filename().native();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // A file its maker still holds is in use: only one nobody holds is left over.
        Result<NativeFile> file = NativeFile::open(entry->path(), NativeFile::Access::OwnRead);
        if (!file)
            continue;
        const Result<bool> free = file.value().tryLock();
        const Result<FileIdentity> held = file.value().identity();
        const Result<FileIdentity> there = identityAt(entry->path());
        if (free && free.value() && held && there && held.value().sameFileAs(there.value()))
            (void)removeFile(entry->path());
    }
}

Status checkWritable(const std::filesystem::path& path)
{
    if (Status access = checkWriteAccess(path); !access && access.error().cause != FileError::Cause::Missing)
        return access;
    return {};
}

} // namespace tesselby
