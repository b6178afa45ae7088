#include "disk/SafeReplace.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>

#include "disk/FileSystem.h"
#include "disk/NativeFile.h"
#include "disk/TemporaryFile.h"

namespace tesselby {

namespace {

// The guard copy's first line: what it guards, as the file's identity, then the sizes of the old content
// and the new. The old content follows, then the new, so that what a cut-off rewrite left can be told
// byte for byte from anything else.
constexpr char kGuardMark[] = "TESSELBY-BEFORE-SAVE 1";
constexpr std::size_t kLongestHeader = 160;
// What a cut-off rewrite can leave is judged a page at a time, the unit the system writes back in.
constexpr std::size_t kPage = 4096;

struct GuardHeader {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    std::uint64_t length = 0; // of the header line itself
};

std::string headerLine(const FileIdentity& target, std::uint64_t oldSize, std::uint64_t newSize)
{
    return std::string(kGuardMark) + " " + std::to_string(target.device) + " " + std::to_string(target.file) + " " +
           std::to_string(oldSize) + " " + std::to_string(newSize) + "\n";
}

std::optional<GuardHeader> readHeader(NativeFile& guard)
{
    std::string line;
    for (char c = 0; line.size() < kLongestHeader;) {
        const Result<std::size_t> got = guard.readSome(&c, 1);
        if (!got || got.value() == 0)
            return std::nullopt;
        line += c;
        if (c == '\n')
            break;
    }
    if (line.empty() || line.back() != '\n' || line.rfind(kGuardMark, 0) != 0)
        return std::nullopt;
    GuardHeader header;
    std::istringstream fields(line.substr(sizeof kGuardMark - 1));
    if (!(fields >> header.device >> header.file >> header.oldSize >> header.newSize))
        return std::nullopt;
    header.length = line.size();
    const Result<std::uint64_t> size = guard.size();
    // Anything more or less than the guard wrote is not one of its guards.
    if (!size || header.oldSize > size.value() || header.newSize > size.value() ||
        size.value() != header.length + header.oldSize + header.newSize)
        return std::nullopt;
    return header;
}

std::filesystem::path beforeSavePath(const std::filesystem::path& target)
{
    std::filesystem::path copy = target;
    copy += kBeforeSaveSuffix;
    return copy;
}

// Reads exactly into.size() bytes from offset.
Status readAt(NativeFile& file, std::uint64_t offset, std::string& into)
{
    if (Status placed = file.seek(offset); !placed)
        return placed;
    for (std::size_t at = 0; at < into.size();) {
        const Result<std::size_t> got = file.readSome(into.data() + at, into.size() - at);
        if (!got)
            return got.error();
        if (got.value() == 0)
            return FileError{file.path(), "it ended sooner than it said"};
        at += got.value();
    }
    return {};
}

// Copies length bytes of source from offset to where into stands.
Status copyRange(NativeFile& source, std::uint64_t offset, std::uint64_t length, NativeFile& into)
{
    std::string chunk;
    for (std::uint64_t done = 0; done < length;) {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length - done, std::uint64_t(1) << 20)));
        if (Status read = readAt(source, offset + done, chunk); !read)
            return read;
        if (Status written = into.write(chunk); !written)
            return written;
        done += chunk.size();
    }
    return {};
}

// What the file at target is, next to the old and the new content its guard holds.
enum class Found { WholeNew, WholeOld, CutRewrite, Other };

Result<Found> compareWithGuard(NativeFile& file, NativeFile& guard, const GuardHeader& header)
{
    const Result<std::uint64_t> length = file.size();
    if (!length)
        return length.error();
    const std::uint64_t size = length.value();
    bool wholeNew = size == header.newSize;
    bool wholeOld = size == header.oldSize;
    // A rewrite goes from the start: every page holds the new bytes up to some point and the old ones
    // after it, the file as long as the old or as much of the new as was written. Past the old end, a
    // power cut may leave pages the new bytes never reached as zeros.
    bool cut = size >= std::min(header.oldSize, header.newSize) && size <= std::max(header.oldSize, header.newSize);
    const std::size_t chunkSize = std::size_t(1) << 16;
    std::string mine(chunkSize, '\0'), olds, news;
    for (std::uint64_t at = 0; at < size && (wholeNew || wholeOld || cut); at += chunkSize) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, size - at));
        mine.resize(n);
        if (Status read = readAt(file, at, mine); !read)
            return read.error();
        olds.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(n, header.oldSize > at ? header.oldSize - at : 0)));
        news.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(n, header.newSize > at ? header.newSize - at : 0)));
        if (Status read = readAt(guard, header.length + at, olds); !read)
            return read.error();
        if (Status read = readAt(guard, header.length + header.oldSize + at, news); !read)
            return read.error();
        wholeNew = wholeNew && news.size() == n && std::memcmp(mine.data(), news.data(), n) == 0;
        wholeOld = wholeOld && olds.size() == n && std::memcmp(mine.data(), olds.data(), n) == 0;
        for (std::size_t page = 0; cut && page < n; page += kPage) {
            const std::size_t end = std::min(n, page + kPage);
            std::size_t i = page;
            while (i < end && i < news.size() && mine[i] == news[i])
                ++i;
            for (; cut && i < end; ++i)
                cut = i < olds.size() ? mine[i] == olds[i] : mine[i] == '\0';
        }
    }
    if (wholeNew)
        return Found::WholeNew;
    if (wholeOld)
        return Found::WholeOld;
    return cut ? Found::CutRewrite : Found::Other;
}

// A name of the guard's own beside it, with the time it was set aside, that no file has yet.
Status moveAside(const std::filesystem::path& target, const std::filesystem::path& guardPath, const std::string& why)
{
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "";
    if (const std::tm* utc = std::gmtime(&now))
        (void)std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", utc);
    const std::string named = "a file of the name of its guard copy, " + pathText(guardPath) + ", " + why;
    Status moved;
    for (int n = 1; n <= 100; ++n) {
        std::filesystem::path aside = guardPath;
        aside += stamp;
        if (n > 1) {
            aside += '-';
            aside += std::to_string(n);
        }
        moved = moveToNewName(guardPath, aside);
        if (moved)
            return FileError{target, named + "; it was not used, and was set aside as " + pathText(aside) +
                                         ". The list was left as it is"};
        if (moved.error().cause != FileError::Cause::Exists)
            break;
    }
    return FileError{target, named + "; it was not used, and could not be moved aside: " + moved.error().reason()};
}

// Ends a file just written over from its start at length, and waits until it is on the disk.
Status endOverwrite(NativeFile& file, std::uint64_t length)
{
    Status ended = file.truncate(length);
    if (ended)
        ended = file.sync();
    return ended;
}

// The first doubt of several, for a change that has landed.
Status landed(const std::optional<FileError>& doubt)
{
    return doubt ? Status::landedUnconfirmed(*doubt) : Status();
}

Status restoreGuarded(const std::filesystem::path& target, bool takeBack, StrayGuard stray);

} // namespace

struct ContentReplacement::State {
    State(std::filesystem::path to, TemporaryFile fresh)
        : target(std::move(to)), temporary(std::move(fresh)), sink(temporary.file())
    {
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State()
    {
        // A guard copy whose rewrite never began guards nothing: the list is as it was.
        if (guardPlaced && removeFile(beforeSavePath(target)))
            (void)syncFolder(folderOf(target));
    }

    std::filesystem::path target;
    std::optional<NativeFile> original; // none when no file had the name
    // The file opened to be written over, when a new file cannot take its place with all it carries.
    std::optional<NativeFile> inPlace;
    TemporaryFile temporary; // the new content, as it is given
    FileSink sink;
    bool prepared = false;
    // For a rewrite in place: the guard copy stands at its name, and what it guards.
    bool guardPlaced = false;
    FileIdentity guarded;
    std::uint64_t oldSize = 0;
};

namespace {

using State = ContentReplacement::State;

// Makes the new content, whole in the temporary file, ready to take target's name.
Status syncForRename(State& state)
{
    if (Status synced = state.temporary.file().sync(); !synced)
        return synced;
#ifdef _WIN32
    // An open file cannot be renamed here.
    if (Status closed = state.temporary.file().close(); !closed)
        return closed;
#endif
    return {};
}

// Gives the new content target's name.
Status moveIntoPlace(State& state)
{
    const Status moved = state.temporary.moveTo(state.target);
    if (!moved)
        return moved;
    // The point of no return: the new content, synced, has the file's name. What fails from here on
    // cannot take it back, and is only a doubt about what reached the disk.
    state.temporary.keep();
    std::optional<FileError> doubt = moved.unconfirmed();
    if (Status closed = state.temporary.file().close(); !closed && !doubt)
        doubt = closed.error();
    return landed(doubt);
}

// Puts a synced copy of the file's old content and the new beside it (kBeforeSaveSuffix), naming the file
// it guards, for a rewrite in place.
Status placeGuard(State& state)
{
    NativeFile& original = *state.original;
    NativeFile& fresh = state.temporary.file();
    const Result<FileIdentity> identity = original.identity();
    if (!identity)
        return identity.error();
    const Result<std::uint64_t> oldSize = original.size();
    if (!oldSize)
        return oldSize.error();
    const Result<std::uint64_t> newSize = fresh.size();
    if (!newSize)
        return newSize.error();
    Result<TemporaryFile> guard = TemporaryFile::createBeside(state.target);
    if (!guard)
        return guard.error();
    NativeFile& copy = guard.value().file();
    const std::string header = headerLine(identity.value(), oldSize.value(), newSize.value());
    if (Status written = copy.write(header); !written)
        return written;
    if (Status copied = copyRange(original, 0, oldSize.value(), copy); !copied)
        return copied;
    if (Status copied = copyRange(fresh, 0, newSize.value(), copy); !copied)
        return copied;
    // The list may have grown or shrunk under another program's hand while it was copied.
    const Result<std::uint64_t> guardSize = copy.size();
    if (!guardSize || guardSize.value() != header.size() + oldSize.value() + newSize.value())
        return FileError{state.target, FileError::Cause::ChangedMeanwhile};
    if (Status synced = copy.sync(); !synced)
        return synced;
#ifdef _WIN32
    (void)copy.close(); // an open file cannot be renamed here
#endif
    // From this rename on, the guard is what a cut-off rewrite is restored from. A name that might not
    // survive a power cut guards nothing, so then the save does not go on (and the guard goes).
    const Status moved = guard.value().moveTo(beforeSavePath(state.target));
    if (!moved)
        return moved;
    if (moved.unconfirmed())
        return *moved.unconfirmed();
    guard.value().keep();
    state.guardPlaced = true;
    state.guarded = identity.value();
    state.oldSize = oldSize.value();
    (void)copy.close(); // synced: a late error here cannot touch what the guard holds
    return {};
}

// Rewrites the file in place with the new content, behind its guard copy.
Status rewriteGuarded(State& state)
{
    NativeFile& file = *state.inPlace;
    NativeFile& fresh = state.temporary.file();
    // The file must still be the one guarded, at the list's name, as long as it was: one another program
    // renamed into its place would keep its content while the rewrite went into a file no longer at that
    // name, and what another program added since would be written over.
    const Result<FileIdentity> opened = file.identity();
    const Result<FileIdentity> there = entryIdentityAt(state.target);
    const Result<std::uint64_t> size = file.size();
    if (!opened || !there || !size || !there.value().sameFileAs(opened.value()) ||
        !opened.value().sameFileAs(state.guarded) || size.value() != state.oldSize)
        return FileError{state.target, FileError::Cause::ChangedMeanwhile}; // the guard goes with the state
    state.guardPlaced = false; // from here on, a failure is taken back from the guard
    const Result<std::uint64_t> newSize = fresh.size();
    Status written = newSize ? copyRange(fresh, 0, newSize.value(), file) : Status(newSize.error());
    if (written)
        written = endOverwrite(file, newSize.value());
    if (!written) {
        (void)restoreGuarded(state.target, true,
                             StrayGuard::SetAside); // a failed rewrite (a full disk) is taken back at once
        return written;
    }
    // The point of no return: the new content is whole on the disk. A guard left from here on finds the
    // file wholly new and is only removed.
    std::optional<FileError> doubt;
    if (Status closed = file.close(); !closed)
        doubt = closed.error();
    if (Status removed = removeFile(beforeSavePath(state.target)); !removed && !doubt)
        doubt = removed.error();
    if (Status synced = syncFolder(folderOf(state.target)); !synced && !doubt)
        doubt = synced.error();
    return landed(doubt);
}

} // namespace

ContentReplacement::ContentReplacement(std::unique_ptr<State> state) : m_state(std::move(state)) {}
ContentReplacement::ContentReplacement(ContentReplacement&&) noexcept = default;
ContentReplacement& ContentReplacement::operator=(ContentReplacement&&) noexcept = default;
ContentReplacement::~ContentReplacement() = default;

Result<ContentReplacement> ContentReplacement::begin(const std::filesystem::path& target)
{
    removeLeftoverTemporaries(target);
    Result<NativeFile> original = NativeFile::open(target, NativeFile::Access::Read);
    if (!original && original.error().cause != FileError::Cause::Missing)
        return original.error();
    Result<TemporaryFile> temporary = TemporaryFile::createBeside(target);
    if (!temporary)
        return temporary.error();
    auto state = std::make_unique<State>(target, std::move(temporary.value()));
    if (original) {
        // A new file would leave the other hard links with the old content; and an owner, group or
        // attribute the program may not give a new file would be lost with the old one.
        const Result<FileIdentity> identity = original.value().identity();
        if (!identity)
            return identity.error();
        if (identity.value().linkCount != 1 || !state->temporary.file().takeIdentityOf(original.value())) {
            // Opened now: a file that cannot be written is refused before its new content is made.
            Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Rewrite);
            if (!file)
                return file.error();
            state->inPlace = std::move(file.value());
        }
        state->original = std::move(original.value());
    }
    return ContentReplacement(std::move(state));
}

ByteSink& ContentReplacement::content()
{
    return m_state->sink;
}

Status ContentReplacement::prepare()
{
    State& state = *m_state;
    if (state.prepared)
        return {};
    Status ready = state.inPlace ? placeGuard(state) : syncForRename(state);
    state.prepared = ready.ok();
    return ready;
}

Status ContentReplacement::commit()
{
    if (Status ready = prepare(); !ready)
        return ready;
    State& state = *m_state;
    if (!state.inPlace) {
        Status replaced = moveIntoPlace(state);
        if (!state.original || replaced || replaced.error().cause != FileError::Cause::CannotReplace)
            return replaced;
        // A file mounted in its place, say, can only be written where it is.
        Result<NativeFile> file = NativeFile::open(state.target, NativeFile::Access::Rewrite);
        if (!file)
            return file.error();
        state.inPlace = std::move(file.value());
#ifdef _WIN32
        Result<NativeFile> fresh = NativeFile::open(state.temporary.path(), NativeFile::Access::OwnRead);
        if (!fresh)
            return fresh.error();
        state.temporary.file() = std::move(fresh.value()); // closed for the rename
#endif
        if (Status placed = placeGuard(state); !placed)
            return placed;
    }
    return rewriteGuarded(state);
}

bool saveGuardLeft(const std::filesystem::path& target)
{
    const Result<NativeFile> copy = NativeFile::open(beforeSavePath(target), NativeFile::Access::OwnRead);
    return copy ||
           (copy.error().cause != FileError::Cause::Missing && copy.error().cause != FileError::Cause::FolderInPlace);
}

namespace {

// With takeBack, for a rewrite that failed here and now: its new content too, whole, is taken back.
Status restoreGuarded(const std::filesystem::path& target, bool takeBack, StrayGuard stray)
{
    const std::filesystem::path guardPath = beforeSavePath(target);
    const auto setAside = [&](const std::string& why) {
        return stray == StrayGuard::SetAside ? moveAside(target, guardPath, why) : Status();
    };
    Result<NativeFile> guard = NativeFile::open(guardPath, NativeFile::Access::OwnRead);
    // A folder of that name is no file the program makes, and nothing it could be mistaken for.
    if (!guard &&
        (guard.error().cause == FileError::Cause::Missing || guard.error().cause == FileError::Cause::FolderInPlace))
        return {};
    if (!guard && (guard.error().cause == FileError::Cause::LinkInPlace ||
                   guard.error().cause == FileError::Cause::NotAnOrdinaryFile ||
                   guard.error().cause == FileError::Cause::WouldWait))
        return setAside("is not a file Tesselby made (" + guard.error().reason() + ")");
    if (!guard)
        return guard.error();
    const Result<FileIdentity> guardIdentity = guard.value().identity();
    if (!guardIdentity)
        return guardIdentity.error();
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Read);
    if (!file && file.error().cause != FileError::Cause::Missing)
        return file.error();
    const Result<FileIdentity> fileIdentity = file ? file.value().identity() : Result<FileIdentity>(FileIdentity{});
    if (!fileIdentity)
        return fileIdentity.error();
    if (guardIdentity.value().linkCount != 1 ||
        !trustedAsOwn(guardIdentity.value(), file ? fileIdentity.value() : guardIdentity.value()))
        return setAside("is not a file Tesselby made (another user's, or a file of several names)");
    const std::optional<GuardHeader> header = readHeader(guard.value());
    if (!header)
        return setAside("is not in the form this version of Tesselby writes");
    if (!file)
        return setAside("guards a file that is no longer there");
    if (fileIdentity.value().device != header->device || fileIdentity.value().file != header->file)
        return setAside("was made for a file another one has replaced since");
    const Result<Found> found = compareWithGuard(file.value(), guard.value(), *header);
    if (!found)
        return found.error();
    if (found.value() == Found::Other)
        return setAside("is older than the list, which another program changed since");

    if (found.value() == Found::CutRewrite || (takeBack && found.value() == Found::WholeNew)) {
        Result<NativeFile> rewrite = NativeFile::open(target, NativeFile::Access::Rewrite);
        const Result<FileIdentity> same = rewrite ? rewrite.value().identity() : Result<FileIdentity>(rewrite.error());
        Status restored = same ? Status() : Status(same.error());
        if (restored && !same.value().sameFileAs(fileIdentity.value()))
            restored = FileError{target, "another program replaced it meanwhile"};
        if (restored)
            restored = copyRange(guard.value(), header->length, header->oldSize, rewrite.value());
        if (restored)
            restored = endOverwrite(rewrite.value(), header->oldSize);
        if (restored)
            restored = rewrite.value().close();
        if (!restored)
            return FileError{target, "an earlier save was cut off, and its old content could not be put back from " +
                                         pathText(guardPath) + ": " + restored.error().reason()};
    }
    // Whole, old or new: the guard has nothing more to do.
    (void)guard.value().close();
    if (Status removed = removeFile(guardPath); !removed)
        return removed;
    return syncFolder(folderOf(target));
}

} // namespace

Status restoreFromSaveGuard(const std::filesystem::path& target, StrayGuard stray)
{
    return restoreGuarded(target, false, stray);
}

} // namespace tesselby
