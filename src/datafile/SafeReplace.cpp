#include "SafeReplace.h"

#include "FileSystem.h"
#include "NativeFile.h"

namespace tesselby {

namespace {

std::filesystem::path beforeSavePath(const std::filesystem::path& target)
{
    std::filesystem::path copy = target;
    copy += kBeforeSaveSuffix;
    return copy;
}

// Ends a file just written over from its start at length, and waits until it is on the disk.
Status endOverwrite(NativeFile& file, std::uint64_t length)
{
    Status ended = file.truncate(length);
    if (ended)
        ended = file.sync();
    if (!ended)
        return ended;
    return file.close();
}

// Puts the whole of what source holds over target, keeping target's identity.
Status overwriteFrom(const std::filesystem::path& target, NativeFile& source)
{
    const Result<std::uint64_t> bytes = source.size();
    if (!bytes)
        return bytes.error();
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Rewrite);
    if (!file)
        return file.error();
    if (Status copied = file.value().copyFrom(source); !copied)
        return copied;
    return endOverwrite(file.value(), bytes.value());
}

// Writes content to a new file beside target and renames it over target.
Status replaceByRename(const std::filesystem::path& target, NativeFile& temporary, const FileContent& content)
{
    const std::filesystem::path temporaryPath = temporary.path();
    Status done = content.writeTo(temporary);
    if (done)
        done = temporary.sync();
    if (Status closed = temporary.close(); done && !closed)
        done = closed;
    if (done && content.goAhead && !content.goAhead())
        done = FileError{target, kChangedMeanwhile};
    if (done)
        done = moveOver(temporaryPath, target);
    if (!done)
        (void)removeFile(temporaryPath);
    return done;
}

// Rewrites target in place, with a synced copy of its old content beside it until the rewrite is on disk.
Status rewriteInPlace(const std::filesystem::path& target, NativeFile& original, NativeFile& copy,
                      const FileContent& content)
{
    const std::filesystem::path copyPath = copy.path();
    if (content.goAhead && !content.goAhead()) {
        (void)copy.close();
        (void)removeFile(copyPath);
        return FileError{target, kChangedMeanwhile};
    }
    // Opened first: a file that cannot be written is refused before anything is put beside it.
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Rewrite);
    Status saved = file ? copy.copyFrom(original) : Status(file.error());
    if (saved)
        saved = copy.sync();
    if (Status closed = copy.close(); saved && !closed)
        saved = closed;
    // From this rename on, the copy is what a cut-off rewrite is restored from.
    if (saved)
        saved = moveOver(copyPath, beforeSavePath(target));
    if (!saved) {
        (void)removeFile(copyPath);
        return saved;
    }
    Status written = content.writeTo(file.value());
    if (written)
        written = endOverwrite(file.value(), content.size);
    if (!written) {
        (void)restoreInterruptedSave(target); // a failed rewrite (a full disk) is taken back at once
        return written;
    }
    if (Status removed = removeFile(beforeSavePath(target)); !removed)
        return removed;
    return syncFolder(folderOf(target));
}

} // namespace

Status replaceFileContent(const std::filesystem::path& target, const FileContent& content)
{
    removeLeftoverTemporaries(target);
    Result<NativeFile> original = NativeFile::open(target, NativeFile::Access::Read);
    if (!original && original.error().cause != FileError::Cause::Missing)
        return original.error();
    Result<NativeFile> temporary = createTemporaryBeside(target);
    if (!temporary)
        return temporary.error();
    if (!original)
        return replaceByRename(target, temporary.value(), content);

    // A new file would leave the other hard links with the old content; and an owner, group or
    // attribute the program may not give a new file would be lost with the old one.
    const Result<FileIdentity> identity = original.value().identity();
    if (!identity)
        return identity.error();
    if (identity.value().linkCount == 1 && temporary.value().takeIdentityOf(original.value())) {
        Status replaced = replaceByRename(target, temporary.value(), content);
        if (replaced || replaced.error().cause != FileError::Cause::CannotReplace)
            return replaced;
        // A file mounted in its place, say, can only be written where it is.
        temporary = createTemporaryBeside(target);
        if (!temporary)
            return temporary.error();
    }
    return rewriteInPlace(target, original.value(), temporary.value(), content);
}

Status replaceFileContent(const std::filesystem::path& target, const std::vector<std::string_view>& pieces)
{
    FileContent content;
    for (const std::string_view piece : pieces)
        content.size += piece.size();
    content.writeTo = [&pieces](NativeFile& file) { return file.write(pieces); };
    return replaceFileContent(target, content);
}

bool saveWasInterrupted(const std::filesystem::path& target)
{
    const Result<FileIdentity> copy = identityAt(beforeSavePath(target));
    return copy ? !copy.value().isFolder : copy.error().cause != FileError::Cause::Missing;
}

Status restoreInterruptedSave(const std::filesystem::path& target)
{
    const std::filesystem::path copyPath = beforeSavePath(target);
    Result<NativeFile> copy = NativeFile::open(copyPath, NativeFile::Access::Read);
    // Only an ordinary file can be a copy a save made; anything else of that name is not the program's.
    if (!copy && (copy.error().cause == FileError::Cause::Missing || copy.error().reason == kFolderInPlace ||
                  copy.error().reason == kNotAnOrdinaryFile))
        return {};
    if (!copy)
        return copy.error();
    Status restored = overwriteFrom(target, copy.value());
    (void)copy.value().close();
    if (!restored && restored.error().cause == FileError::Cause::Missing)
        return moveOver(copyPath, target); // the file was removed meanwhile: the copy takes its place
    if (!restored)
        return FileError{target, "an earlier save was cut off, and its old content could not be put back from " +
                                     pathText(copyPath) + ": " + restored.error().reason};
    if (Status removed = removeFile(copyPath); !removed)
        return removed;
    return syncFolder(folderOf(target));
}

} // namespace tesselby
