#include "disk/AddJournal.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "disk/FileSystem.h"

namespace tesselby {

namespace {

// The journal: this line, then "device file before after" in decimal and a line end, then the bytes the
// add appends, all of them, so that any part of them that reached the list can be proved to be the add's.
constexpr std::string_view kJournalStart = "tesselby add in progress\n";

struct Journal {
    FileIdentity identity;
    std::uint64_t before = 0;
    std::string_view bytes;
};

enum class Reading { Whole, Unfinished, Foreign };

// Reading::Unfinished: a journal cut off while it was written, so its add never touched the list (the
// journal is on the disk whole before the add appends).
Reading parseJournal(std::string_view text, Journal& journal)
{
    if (text.size() < kJournalStart.size())
        return kJournalStart.starts_with(text) ? Reading::Unfinished : Reading::Foreign;
    if (!text.starts_with(kJournalStart))
        return Reading::Foreign;
    text.remove_prefix(kJournalStart.size());
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos)
        return text.size() < 100 ? Reading::Unfinished : Reading::Foreign;
    std::uint64_t numbers[4] = {};
    const char* at = text.data();
    const char* end = text.data() + lineEnd;
    for (std::size_t n = 0; n < 4; ++n) {
        if (n > 0 && (at == end || *at++ != ' '))
            return Reading::Foreign;
        const auto [next, failed] = std::from_chars(at, end, numbers[n]);
        if (failed != std::errc())
            return Reading::Foreign;
        at = next;
    }
    if (at != end || numbers[3] < numbers[2])
        return Reading::Foreign;
    text.remove_prefix(lineEnd + 1);
    const std::uint64_t length = numbers[3] - numbers[2];
    if (text.size() < length)
        return Reading::Unfinished;
    if (text.size() > length)
        return Reading::Foreign;
    journal.identity.device = numbers[0];
    journal.identity.file = numbers[1];
    journal.before = numbers[2];
    journal.bytes = text;
    return Reading::Whole;
}

// Whether file is before bytes and then a start of bytes; how many of them when it is.
Result<std::optional<std::uint64_t>> provenTail(NativeFile& file, std::uint64_t before, std::string_view bytes)
{
    const Result<std::uint64_t> size = file.size();
    if (!size)
        return size.error();
    if (size.value() < before || size.value() - before > bytes.size())
        return std::optional<std::uint64_t>();
    const std::uint64_t landed = size.value() - before;
    const Result<bool> held = holdsAt(file, before, bytes.substr(0, static_cast<std::size_t>(landed)));
    if (!held)
        return held.error();
    return held.value() ? std::optional<std::uint64_t>(landed) : std::optional<std::uint64_t>();
}

// Takes back what the journal's add wrote to the list, when the journal proves it is the add's own:
// false, the list untouched, when it does not.
Result<bool> takeBackProven(const std::filesystem::path& target, const Journal& journal)
{
    Result<NativeFile> reading = NativeFile::open(target, NativeFile::Access::Read);
    if (!reading)
        return reading.error().cause == FileError::Cause::Missing ? Result<bool>(false) : reading.error();
    Result<NativeFile> writing = NativeFile::open(target, NativeFile::Access::Rewrite);
    if (!writing)
        return writing.error().cause == FileError::Cause::Missing ? Result<bool>(false) : writing.error();
    for (NativeFile* file : {&reading.value(), &writing.value()}) {
        const Result<FileIdentity> identity = file->identity();
        if (!identity)
            return identity.error();
        if (!identity.value().sameFileAs(journal.identity))
            return false;
    }
    const Result<std::optional<std::uint64_t>> landed = provenTail(reading.value(), journal.before, journal.bytes);
    if (!landed)
        return landed.error();
    if (!landed.value())
        return false;
    if (*landed.value() > 0) {
        if (Status cut = writing.value().truncate(journal.before); !cut)
            return cut.error();
        if (Status synced = writing.value().sync(); !synced)
            return synced.error();
    }
    return true;
}

// Keeps a journal that proves nothing under a name of its own, where check reports it.
Status setAside(const std::filesystem::path& target)
{
    static std::atomic<unsigned> counter{0};
    std::filesystem::path aside = target;
    aside += kSetAsideMarker;
    aside +=
        std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + "-" + std::to_string(counter++);
    return moveOver(addJournalPath(target), aside);
}

} // namespace

std::filesystem::path addJournalPath(const std::filesystem::path& target)
{
    std::filesystem::path journal = target;
    journal += kAddingSuffix;
    return journal;
}

Status writeAddJournal(const std::filesystem::path& target, const FileIdentity& identity, std::uint64_t before,
                       std::string_view bytes)
{
    const std::filesystem::path path = addJournalPath(target);
    Result<NativeFile> journal = NativeFile::createNew(path);
    if (!journal)
        return journal.error();
    const std::string numbers = std::to_string(identity.device) + " " + std::to_string(identity.file) + " " +
                                std::to_string(before) + " " + std::to_string(before + bytes.size()) + "\n";
    Status written = journal.value().write({kJournalStart, numbers, bytes});
    if (written)
        written = journal.value().sync();
    if (written)
        written = journal.value().close();
    if (written)
        written = syncFolder(folderOf(target));
    if (!written)
        (void)removeFile(path); // the list is untouched; the next write would remove it anyway
    return written;
}

Status removeAddJournal(const std::filesystem::path& target)
{
    if (Status removed = removeFile(addJournalPath(target)); !removed)
        return removed;
    return syncFolder(folderOf(target));
}

bool addWasInterrupted(const std::filesystem::path& target)
{
    const Result<FileIdentity> entry = entryIdentityAt(addJournalPath(target));
    return entry || entry.error().cause != FileError::Cause::Missing;
}

Status takeBackInterruptedAdd(const std::filesystem::path& target)
{
    const std::filesystem::path path = addJournalPath(target);
    const Result<FileIdentity> entry = entryIdentityAt(path);
    if (!entry)
        return entry.error().cause == FileError::Cause::Missing ? Status() : Status(entry.error());
    // A link, a folder or another user's file is never read, only set aside.
    Result<NativeFile> opened = NativeFile::open(path, NativeFile::Access::OwnRead);
    if (!opened)
        return opened.error().cause == FileError::Cause::Missing ? Status() : setAside(target);
    const Result<FileIdentity> journalIdentity = opened.value().identity();
    if (!journalIdentity)
        return journalIdentity.error();
    const Result<FileIdentity> listIdentity = identityAt(target);
    if (!trustedAsOwn(journalIdentity.value(), listIdentity ? listIdentity.value() : journalIdentity.value())) {
        (void)opened.value().close();
        return setAside(target);
    }
    const Result<std::string> text = opened.value().readAll();
    if (!text)
        return text.error();
    (void)opened.value().close();
    Journal journal;
    switch (parseJournal(text.value(), journal)) {
    case Reading::Unfinished:
        return removeAddJournal(target);
    case Reading::Foreign:
        return setAside(target);
    case Reading::Whole:
        break;
    }
    const Result<bool> takenBack = takeBackProven(target, journal);
    if (!takenBack)
        return takenBack.error();
    return takenBack.value() ? removeAddJournal(target) : setAside(target);
}

bool takeBackTail(NativeFile& file, std::uint64_t before, std::string_view bytes)
{
    const Result<std::optional<std::uint64_t>> landed = provenTail(file, before, bytes);
    if (!landed || !landed.value())
        return false;
    if (*landed.value() == 0)
        return true;
    return file.truncate(before) && file.sync();
}

Result<bool> holdsAt(NativeFile& file, std::uint64_t at, std::string_view bytes)
{
    std::string chunk(std::min<std::size_t>(bytes.size(), std::size_t(256) << 10), '\0');
    while (!bytes.empty()) {
        const Result<std::size_t> got = file.readSomeAt(at, chunk.data(), std::min(chunk.size(), bytes.size()));
        if (!got)
            return got.error();
        if (got.value() == 0 || std::memcmp(chunk.data(), bytes.data(), got.value()) != 0)
            return false;
        at += got.value();
        bytes.remove_prefix(got.value());
    }
    return true;
}

std::vector<std::filesystem::path> setAsideAddJournals(const std::filesystem::path& target)
{
    std::filesystem::path prefixPath = target.filename();
    prefixPath += kSetAsideMarker;
    const std::filesystem::path::string_type prefix = prefixPath.native();
    std::vector<std::filesystem::path> found;
    std::error_code failed;
    std::filesystem::directory_iterator entry(folderOf(target), failed);
    for (; !failed && entry != std::filesystem::directory_iterator(); entry.increment(failed)) {
        const std::filesystem::path::string_type name = entry->path().filename().native();
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            found.push_back(entry->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace tesselby
