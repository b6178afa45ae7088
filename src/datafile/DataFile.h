#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "disk/FileLock.h"
#include "disk/SafeReplace.h"
#include "memory/LargeBlock.h"
#include "records/EditPlan.h"
#include "records/Record.h"
#include "records/RecordGrid.h"
#include "records/RecordSearch.h"

namespace tesselby {

// Every operation reaches the file through any symbolic links at path, and first puts back what a save
// that was cut off had guarded (so the file holds whole content, never a mix).

// The data file's whole text. A file that does not exist yet reads as an empty list.
Result<std::string> readDataFile(const std::filesystem::path& path);
// The same in a block of its own, whose pages are asked for at once and written only by the read: the
// cheaper way to hold a large list.
Result<LargeBlock> readDataFileBlock(const std::filesystem::path& path);

// Finds what search finds in the data file (see RecordSearch), the file streamed, never read whole.
Status searchDataFile(const std::filesystem::path& path, RecordSearch& search, Field field, std::string_view text,
                      MatchList& matches);

// Reads the data file and indexes every record in it.
Result<RecordGrid> loadRecordGrid(const std::filesystem::path& path);

// Appends one record as four item lines in a single write, starting on a new line, and syncs it to
// disk. Creates the file (owner-only) and its folders when missing. On failure the file is as it was.
Status appendRecord(const std::filesystem::path& path, const Record& record);
// The same for several records in order, under one lock and in one write: all of them or none.
Status appendRecords(const std::filesystem::path& path, std::span<const Record> records);
// Chooses, under an append's lock, what to write, given the list as it stands then (an import that leaves
// out the people already there): whole records as appendItem writes them.
using AppendChoice = std::function<Result<std::string_view>(const ByteSource& list)>;
// The same for records already written as the list holds them, four item lines each (see appendItem),
// so that an import appends the bytes it holds without building them again. With choose, the text it
// gives instead; none is then no write at all.
Status appendWrittenRecords(const std::filesystem::path& path, std::string_view written,
                            const AppendChoice& choose = {});

// Saves one person's edit of record number of the grid, into the file as it is now (see planEdit for
// how the person is found there and what a conflict is), replacing its content in one step that keeps
// the file's identity (see ContentReplacement). Unless the plan says nothing may be written, the grid
// then holds the file as it stands, the edit in; on failure the file and the grid are as they were.
Result<EditPlan> saveRecordEdit(const std::filesystem::path& path, RecordGrid& grid, std::size_t number,
                                const RecordEdit& edit);

// A whole new list made from the list as it stands, and the words the history keeps for the change;
// nothing when there is nothing to change.
struct ListRewrite {
    std::string list;
    std::string description;
};
using ListRewriter = std::function<Result<std::optional<ListRewrite>>(const std::string& list)>;
// Rewrites the list under its lock with what rewrite makes of it, through the same safe save as an edit
// (see ContentReplacement), recorded in the list's history first (a restore, a removal).
Status rewriteList(const std::filesystem::path& path, const ListRewriter& rewrite);

// Writes a file that is not the list (an export) whole, as a ContentReplacement does, under the file's
// own lock, having put right an earlier write of it that was cut off: two writers never mix, and a reader
// of it in Tesselby never sees a cut-off rewrite. What stands at its guard's name unproven is left alone.
// Calling sequence: begin; write the content into content(); commit once.
class WholeFileWrite {
public:
    static Result<WholeFileWrite> begin(const std::filesystem::path& target);

    ByteSink& content() { return m_replacement.content(); }
    Status commit() { return m_replacement.commit(); }

private:
    WholeFileWrite(FileLock lock, ContentReplacement replacement)
        : m_lock(std::move(lock)), m_replacement(std::move(replacement))
    {
    }

    FileLock m_lock; // held until the replacement, declared after it, is gone
    ContentReplacement m_replacement;
};

// Puts right, under its own lock, a file that is not the list when a write of it (an export over a file
// of several names) was cut off; for what reads such a file (an import).
Status putRightCutOffWrite(const std::filesystem::path& target);

// Whether name, in the folder of the data file target, is one the program keeps beside it: its lock, a
// save's temporary or guard copy, an add's journal, or one of these set aside.
bool isOwnFileBeside(const std::filesystem::path& target, const std::filesystem::path& name);

// Puts right, under the lock, what a save or an add that was cut off left (the save's guarded content
// put back, the add taken back); for start-up, before anything is shown. A guard copy it may not use is
// left for the first read or write to set aside and report.
Status repairListAtStartUp(const std::filesystem::path& path);

} // namespace tesselby
