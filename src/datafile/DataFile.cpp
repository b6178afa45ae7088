#include "DataFile.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "disk/AddJournal.h"
#include "disk/FileLock.h"
#include "disk/FileSystem.h"
#include "disk/NativeFile.h"
#include "disk/SafeReplace.h"
#include "format/ItemWriter.h"
#include "format/ListEnd.h"
#include "history/ListHistory.h"

namespace tesselby {

namespace {

// Runs work, which may need as much memory as the list: a list larger than the program may take is
// refused with a message, never an abort; nor does any other failure of the in-memory copy abort.
template <typename Work> auto withinMemory(const std::filesystem::path& path, Work work) -> decltype(work())
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return FileError{path, FileError::Cause::TooLargeToOpen};
    } catch (const std::length_error&) {
        return FileError{path, FileError::Cause::TooLargeToOpen};
    } catch (const std::system_error& failed) {
        // The in-memory copy of the list failed otherwise, which only a fault can make it do.
        return FileError{path, "its copy in memory could not be used: " + failed.code().message()};
    }
}

// What reads an opened data file; it gets none when the file does not exist yet, an empty list.
using FileReader = std::function<Status(NativeFile*)>;

// Opens the file for read; with shared, under a shared lock, for a reader that holds no lock of its own.
Status readTarget(const std::filesystem::path& target, bool shared, const FileReader& read)
{
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Read);
    if (!file)
        return file.error().cause == FileError::Cause::Missing ? read(nullptr) : Status(file.error());
    if (shared) {
        if (Status locked = FileLock::shareWhileReading(file.value()); !locked)
            return locked.error();
    }
    return withinMemory(target, [&] { return read(&file.value()); });
}

// The bytes of an opened data file, or of an empty list when there is none.
ByteSource sourceOfFile(NativeFile* file)
{
    return [file](char* into, std::size_t room) -> Result<std::size_t> {
        return file == nullptr ? Result<std::size_t>(std::size_t(0)) : file->readSome(into, room);
    };
}

FileReader readingWholeInto(std::string& text)
{
    return [&text](NativeFile* file) -> Status {
        if (file == nullptr) {
            text.clear();
            return {};
        }
        Result<std::string> read = file->readAll();
        if (!read)
            return read.error();
        text = std::move(read.value());
        return {};
    };
}

FileReader readingGridInto(std::optional<RecordGrid>& grid)
{
    return [&grid](NativeFile* file) -> Status {
        if (file == nullptr) {
            grid = RecordGrid();
            return {};
        }
        const Result<std::uint64_t> expected = file->size();
        if (!expected)
            return expected.error();
        Result<RecordGrid> read =
            RecordGrid::read([file](char* into, std::size_t room) { return file->readSome(into, room); },
                             static_cast<std::size_t>(expected.value()));
        if (!read)
            return read.error();
        grid = std::move(read.value());
        return {};
    };
}

// Whether the file holds exactly what expected holds, found a piece at a time. Reads expected into a
// buffer of its own, so that it can run beside a save that writes from expected.
bool fileHoldsExactly(const std::filesystem::path& target, const TextStore& expected)
{
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Read);
    if (!file)
        return false;
    const Result<std::uint64_t> bytes = file.value().size();
    if (!bytes || bytes.value() != expected.size())
        return false;
    std::vector<char> chunk(std::size_t(256) << 10);
    std::string held;
    for (std::size_t at = 0;;) {
        const Result<std::size_t> got = file.value().readSome(chunk.data(), chunk.size());
        if (!got)
            return false;
        if (got.value() == 0)
            return at == expected.size();
        if (got.value() > expected.size() - at)
            return false;
        expected.read(at, got.value(), held);
        if (std::memcmp(held.data(), chunk.data(), got.value()) != 0)
            return false;
        at += got.value();
    }
}

// Whether target still holds exactly what expected holds, found out on a thread of its own where the
// system has one to spare.
class UnchangedCheck {
public:
    UnchangedCheck(const std::filesystem::path& target, const TextStore& expected)
    {
        auto check = [&target, &expected]() noexcept {
            try {
                return fileHoldsExactly(target, expected);
            } catch (const std::exception&) {
                return false; // short of memory: the file is read again, and says what it needs
            }
        };
        try {
            m_result = std::async(std::launch::async, check);
        } catch (const std::system_error&) {
            m_result = std::async(std::launch::deferred, check);
        }
    }
    ~UnchangedCheck() { (void)result(); }

    bool result()
    {
        if (m_result.valid())
            m_known = m_result.get();
        return m_known;
    }

private:
    std::future<bool> m_result;
    bool m_known = false;
};

// How many times an edit is planned again over a file other programs changed meanwhile before it gives
// up, having written nothing.
constexpr int kSavePasses = 8;

// Plans the edit of loaded record number over now, the file as it stands, and saves it there, once the
// new content is ready only if unchanged finds the file still holds what now does.
Result<EditPlan> saveEditOver(const std::filesystem::path& target, const RecordGrid& loaded, RecordGrid& now,
                              std::size_t number, const RecordEdit& edit, UnchangedCheck& unchanged)
{
    EditPlan plan = planEdit(loaded, number, now, edit);
    if (!plan.saved())
        return plan;
    const bool changes =
        std::any_of(plan.values.begin(), plan.values.end(), [](const auto& v) { return v.has_value(); });
    const bool whole = now.itemCount() >= plan.at * kFieldCount;
    if (!changes && whole)
        return plan;
    const Status saved = withinMemory(target, [&]() -> Status {
        const RecordGrid::Replacement change = now.replacementFor(plan.at, plan.values);
        Result<ContentReplacement> replacement = ContentReplacement::begin(target);
        if (!replacement)
            return replacement.error();
        if (Status written = now.writeWith(change, replacement.value().content()); !written)
            return written;
        if (Status ready = replacement.value().prepare(); !ready)
            return ready;
        if (!unchanged.result())
            return FileError{target, FileError::Cause::ChangedMeanwhile};
        // The edit is recorded before the list changes (see history/ListHistory.h).
        Result<ListHistory> history = ListHistory::beginChange(target);
        if (!history)
            return history.error();
        std::string before;
        now.store().read(change.from, change.to - change.from, before);
        if (Status kept =
                history.value().intend(change.from, before, change.lines, describeEdit(now, plan.at, plan.values));
            !kept)
            return kept.error();
        const Status replaced = replacement.value().commit();
        history.value().finish(replaced.ok());
        if (replaced)
            now.apply(change);
        return replaced;
    });
    if (!saved)
        return saved.error();
    return Result<EditPlan>::landedUnconfirmed(std::move(plan), saved.unconfirmed());
}

// The file a write goes to, its folders made and its lock held, with any cut-off save put right.
struct WriteAccess {
    std::filesystem::path target;
    FileLock lock;
};

Result<WriteAccess> prepareWrite(const std::filesystem::path& path)
{
    Result<std::filesystem::path> target = finalTarget(path);
    if (!target)
        return target.error();
    if (Status folder = ensureParentFolder(target.value()); !folder)
        return folder.error();
    Result<FileLock> lock = FileLock::acquire(target.value());
    if (!lock)
        return lock.error();
    if (Status restored = restoreFromSaveGuard(target.value()); !restored)
        return restored.error();
    if (Status takenBack = takeBackInterruptedAdd(target.value()); !takenBack)
        return takenBack.error();
    if (Status writable = checkWritable(target.value()); !writable)
        return writable.error();
    return WriteAccess{std::move(target.value()), std::move(lock.value())};
}

// Whether a save's guard copy or an add's journal is left beside target.
bool cutOffChangeLeft(const std::filesystem::path& target)
{
    return saveGuardLeft(target) || addWasInterrupted(target);
}

// Puts right a save or an add that was cut off, under the lock; the only time a read takes the lock.
Status repairCutOffChange(const std::filesystem::path& target, StrayGuard stray = StrayGuard::SetAside)
{
    if (!cutOffChangeLeft(target))
        return {};
    Result<FileLock> lock = FileLock::acquire(target);
    if (!lock)
        return lock.error();
    if (Status restored = restoreFromSaveGuard(target, stray); !restored)
        return restored;
    return takeBackInterruptedAdd(target);
}

// Reads the data file with read, having put right any save that was cut off.
Status readDataFileWith(const std::filesystem::path& path, const FileReader& read)
{
    const Result<std::filesystem::path> target = finalTarget(path);
    if (!target)
        return target.error();
    if (Status restored = repairCutOffChange(target.value()); !restored)
        return restored.error();
    Status done = readTarget(target.value(), true, read);
    // A save or an add killed while this read waited for it leaves its guard copy or its journal; then
    // the file is put right and read again.
    if (!done || !cutOffChangeLeft(target.value()))
        return done;
    if (Status restored = repairCutOffChange(target.value()); !restored)
        return restored.error();
    return readTarget(target.value(), true, read);
}

// An add whose list another program replaced while it wrote is made again on the new list this many
// times at most.
constexpr int kAddAttempts = 4;

// Takes back what a failed add wrote to file, and then its journal; where that cannot be done the
// journal stays, and the next use of the list takes the add back.
void takeBackAdd(NativeFile& file, const std::filesystem::path& target, std::uint64_t before, std::string_view lines)
{
    if (takeBackTail(file, before, lines))
        (void)removeAddJournal(target);
}

// An add to an empty list is the list's whole new content: written beside it and renamed into its place,
// it needs no journal, since a cut-off add leaves the empty list as it was. Only while the list, open as
// file, is still empty and still has the path: otherwise another program wrote it meanwhile, and the
// add is made again over what it wrote.
Result<std::optional<Status>> fillEmptyList(const std::filesystem::path& target, NativeFile& file,
                                            const FileIdentity& identity, std::string_view lines)
{
    // A failure on the file written beside the list is told as the list's, the file the user knows.
    const auto named = [&target](const FileError& failure) {
        return failure.path.starts_with(pathText(target) + kTemporaryMarker) ? failure.about(target) : failure;
    };
    Result<ContentReplacement> replacement = ContentReplacement::begin(target);
    if (!replacement)
        return named(replacement.error());
    if (Status written = replacement.value().content().write(lines); !written)
        return named(written.error());
    if (Status ready = replacement.value().prepare(); !ready)
        return named(ready.error());
    const Result<std::uint64_t> size = file.size();
    if (!size)
        return size.error();
    const Result<FileIdentity> now = entryIdentityAt(target);
    if (!now && now.error().cause != FileError::Cause::Missing)
        return now.error();
    if (size.value() != 0 || !now || !now.value().sameFileAs(identity))
        return std::optional<Status>();
    const Status committed = replacement.value().commit();
    if (!committed && committed.error().cause == FileError::Cause::ChangedMeanwhile)
        return std::optional<Status>(); // written in place, and another program wrote it since prepare
    return committed ? std::optional<Status>(committed) : std::optional<Status>(named(committed.error()));
}

// One try of an add, under the lock: its outcome, or nothing when another program put a new file in the
// list's place while the add wrote and the add has to be made again on it.
Result<std::optional<Status>> appendOnce(const std::filesystem::path& target, std::string_view written)
{
    Result<NativeFile> opened = NativeFile::open(target, NativeFile::Access::Append);
    if (!opened)
        return opened.error();
    NativeFile& file = opened.value();
    const Result<std::uint64_t> sizeBefore = file.size();
    if (!sizeBefore)
        return sizeBefore.error();
    const Result<FileIdentity> identity = file.identity();
    if (!identity)
        return identity.error();
    // Read whole, for what a hand edit or an older version's cut add left at the end must be closed
    // before the record.
    const Result<ListEnd> end = scanListEnd(sourceOfFile(&file));
    if (!end)
        return end.error();

    // Copied only when the list's end needs closing first, which only a hand edit or a cut add leaves.
    std::string joined;
    std::string_view lines = written;
    const Status joinedUp = withinMemory(target, [&]() -> Status {
        joined = end.value().completion();
        if (!joined.empty()) {
            joined += written;
            lines = joined;
        }
        return {};
    });
    if (!joinedUp)
        return joinedUp.error();
    const std::uint64_t before = sizeBefore.value();

    // History: the add is recorded before the list changes (see history/ListHistory.h).
    Result<ListHistory> history = ListHistory::beginChange(target);
    if (!history)
        return history.error();
    if (Status kept = history.value().intend(before, {}, lines, describeAdd(written)); !kept)
        return kept.error();
    ListHistory::Finisher recorded(history.value());
    if (before == 0) {
        Result<std::optional<Status>> filled = fillEmptyList(target, file, identity.value(), lines);
        if (filled && filled.value() && filled.value()->ok())
            recorded.landed();
        return filled;
    }

    // Until its journal is gone the add is not made: whatever stops it, the next use of the list takes
    // back what it wrote.
    if (Status journal = writeAddJournal(target, identity.value(), before, lines); !journal)
        return journal.error();
    Status added = file.write(lines);
    if (added)
        added = file.sync();
    if (added && file.created())
        added = syncFolder(folderOf(target));
    if (!added) {
        takeBackAdd(file, target, before, lines);
        return added.error();
    }
    // The path must still name the file written, or the add went into a file that is no longer the list.
    const Result<FileIdentity> now = entryIdentityAt(target);
    if (!now && now.error().cause != FileError::Cause::Missing) {
        takeBackAdd(file, target, before, lines);
        return now.error();
    }
    if (now && now.value().sameFileAs(identity.value())) {
        // The point of no return: with the journal gone, the add is in the list for good.
        if (Status committed = removeFile(addJournalPath(target)); !committed) {
            takeBackAdd(file, target, before, lines);
            return committed.error();
        }
        recorded.landed();
        if (Status synced = syncFolder(folderOf(target)); !synced)
            return std::optional<Status>(Status::landedUnconfirmed(synced.error()));
        if (Status closed = file.close(); !closed)
            return std::optional<Status>(Status::landedUnconfirmed(closed.error()));
        return std::optional<Status>(Status());
    }
    // Another program renamed a new file into the list's place (or removed it) while this add wrote.
    (void)takeBackTail(file, before, lines);
    if (Status removed = removeAddJournal(target); !removed)
        return removed.error();
    // A sync tool may have copied the add into the new file; then it is there, and not made twice.
    Result<NativeFile> replacement = NativeFile::open(target, NativeFile::Access::Read);
    if (replacement) {
        const Result<bool> copied = holdsAt(replacement.value(), before, lines);
        if (!copied)
            return copied.error();
        if (copied.value())
            return std::optional<Status>(Status());
    }
    return std::optional<Status>();
}

} // namespace

Result<std::string> readDataFile(const std::filesystem::path& path)
{
    std::string text;
    if (Status read = readDataFileWith(path, readingWholeInto(text)); !read)
        return read.error();
    return text;
}

Result<LargeBlock> readDataFileBlock(const std::filesystem::path& path)
{
    LargeBlock text;
    if (Status read = readDataFileWith(path,
                                       [&text](NativeFile* file) -> Status {
                                           if (file == nullptr) {
                                               text.clear();
                                               return {};
                                           }
                                           return file->readAllInto(text);
                                       });
        !read)
        return read.error();
    return text;
}

Status searchDataFile(const std::filesystem::path& path, RecordSearch& search, Field field, std::string_view text,
                      MatchList& matches)
{
    return readDataFileWith(
        path, [&](NativeFile* file) -> Status { return search.run(sourceOfFile(file), field, text, matches); });
}

Result<RecordGrid> loadRecordGrid(const std::filesystem::path& path)
{
    std::optional<RecordGrid> grid;
    if (Status read = readDataFileWith(path, readingGridInto(grid)); !read)
        return read.error();
    return std::move(*grid);
}

Status repairListAtStartUp(const std::filesystem::path& path)
{
    const Result<std::filesystem::path> target = finalTarget(path);
    if (!target)
        return target.error();
    // Nothing is shown yet to say that a stray guard was set aside: the first read or write does that.
    return repairCutOffChange(target.value(), StrayGuard::LeaveAlone);
}

bool isOwnFileBeside(const std::filesystem::path& target, const std::filesystem::path& name)
{
    std::filesystem::path guard = target, temporary = target;
    guard += kBeforeSaveSuffix;
    temporary += kTemporaryMarker;
    const std::filesystem::path::string_type given = name.native();
    for (const std::filesystem::path& own : {lockFilePath(target), addJournalPath(target), guard, temporary}) {
        const std::filesystem::path::string_type start = own.filename().native();
        if (given.compare(0, start.size(), start) == 0)
            return true;
    }
    return false;
}

Status putRightCutOffWrite(const std::filesystem::path& target)
{
    if (!saveGuardLeft(target))
        return {};
    Result<FileLock> lock = FileLock::acquireFileItself(target);
    if (!lock)
        return lock.error();
    return restoreFromSaveGuard(target, StrayGuard::LeaveAlone);
}

Result<WholeFileWrite> WholeFileWrite::begin(const std::filesystem::path& target)
{
    Result<FileLock> lock = FileLock::acquireFileItself(target);
    if (!lock)
        return lock.error();
    if (Status restored = restoreFromSaveGuard(target, StrayGuard::LeaveAlone); !restored)
        return restored.error();
    Result<ContentReplacement> replacement = ContentReplacement::begin(target);
    if (!replacement)
        return replacement.error();
    return WholeFileWrite(std::move(lock.value()), std::move(replacement.value()));
}

Status rewriteList(const std::filesystem::path& path, const ListRewriter& rewrite)
{
    Result<WriteAccess> access = prepareWrite(path);
    if (!access)
        return access.error();
    const std::filesystem::path& target = access.value().target;
    return withinMemory(target, [&]() -> Status {
        Result<ListHistory> history = ListHistory::beginChange(target);
        if (!history)
            return history.error();
        Result<std::string> list = std::string();
        if (Status read = readTarget(target, false, readingWholeInto(list.value())); !read)
            return read.error();
        Result<std::optional<ListRewrite>> made = rewrite(list.value());
        if (!made)
            return made.error();
        if (!made.value())
            return {};
        const std::string& old = list.value();
        const std::string& now = made.value()->list;
        // The history keeps only the bytes that differ: what lies between the common start and end.
        std::size_t start = 0;
        while (start < old.size() && start < now.size() && old[start] == now[start])
            ++start;
        std::size_t end = 0;
        while (end < old.size() - start && end < now.size() - start &&
               old[old.size() - 1 - end] == now[now.size() - 1 - end])
            ++end;
        if (Status kept = history.value().intend(start, std::string_view(old).substr(start, old.size() - start - end),
                                                 std::string_view(now).substr(start, now.size() - start - end),
                                                 made.value()->description);
            !kept)
            return kept;
        Result<ContentReplacement> replacement = ContentReplacement::begin(target);
        if (!replacement)
            return replacement.error();
        if (Status written = replacement.value().content().write(now); !written)
            return written;
        const Status saved = replacement.value().commit();
        history.value().finish(saved.ok());
        return saved;
    });
}

Status appendRecord(const std::filesystem::path& path, const Record& record)
{
    return appendRecords(path, std::span<const Record>(&record, 1));
}

Status appendRecords(const std::filesystem::path& path, std::span<const Record> records)
{
    std::string written;
    const Status built = withinMemory(path, [&]() -> Status {
        std::size_t bytes = 0;
        for (const Record& record : records)
            for (const std::string& value : record)
                bytes += value.size() + 4;
        written.reserve(bytes); // quotes doubled in a value aside, the text's whole size
        for (const Record& record : records)
            for (const std::string& value : record)
                appendItem(written, value);
        return {};
    });
    if (!built)
        return built.error();
    return appendWrittenRecords(path, written);
}

Status appendWrittenRecords(const std::filesystem::path& path, std::string_view written, const AppendChoice& choose)
{
    Result<WriteAccess> access = prepareWrite(path);
    if (!access)
        return access.error();
    const std::filesystem::path& target = access.value().target;
    // Chosen once, on the list as it is when the add begins; an add made again on a list put in its place
    // writes the same people.
    if (choose) {
        Status chosen = readTarget(target, false, [&](NativeFile* file) -> Status {
            Result<std::string_view> kept = choose(sourceOfFile(file));
            if (!kept)
                return kept.error();
            written = kept.value();
            return {};
        });
        if (!chosen)
            return chosen;
        if (written.empty())
            return {};
    }
    for (int attempt = 0; attempt < kAddAttempts; ++attempt) {
        Result<std::optional<Status>> made = appendOnce(target, written);
        if (!made)
            return made.error();
        if (made.value())
            return *made.value();
    }
    return FileError{target, FileError::Cause::KeptBeingReplaced};
}

Result<EditPlan> saveRecordEdit(const std::filesystem::path& path, RecordGrid& grid, std::size_t number,
                                const RecordEdit& edit)
{
    Result<WriteAccess> access = prepareWrite(path);
    if (!access)
        return access.error();
    const std::filesystem::path& target = access.value().target;

    // Usually nobody else has written the file since the grid was read; then the grid is the file, and
    // neither needs reading or copying whole. The save goes ahead as if so, while another thread makes
    // sure, before the new content takes the file's place. When another program changed the file, the
    // edit is planned again over the file as it now is, and that pass too is checked the same way.
    std::optional<RecordGrid> onDisk;
    for (int pass = 0; pass < kSavePasses; ++pass) {
        if (pass > 0) {
            if (Status read = readTarget(target, false, readingGridInto(onDisk)); !read)
                return read.error();
        }
        RecordGrid& now = pass == 0 ? grid : *onDisk;
        UnchangedCheck check(target, now.store());
        Result<EditPlan> saved = saveEditOver(target, grid, now, number, edit, check);
        if (!saved && saved.error().cause != FileError::Cause::ChangedMeanwhile)
            return saved;
        // A plan that writes nothing (a conflict to ask about) is made over the file as just read.
        const bool wroteNothing = saved && !saved.value().saved();
        // Replaced after the check, while the save wrote its guard copy: planned again as well.
        const bool replacedMeanwhile = !saved && saved.error().cause == FileError::Cause::ChangedMeanwhile;
        if ((replacedMeanwhile || !check.result()) && !(pass > 0 && wroteNothing))
            continue;
        // Once saved, the grid holds the file as it stands, with what other programs wrote since the
        // load; until then, what the person saw.
        if (pass > 0 && saved && saved.value().saved())
            grid = std::move(*onDisk);
        return saved;
    }
    return FileError{target, FileError::Cause::KeptChanging};
}

} // namespace tesselby
