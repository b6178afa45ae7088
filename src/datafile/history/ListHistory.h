#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "history/HistoryLog.h"
#include "records/Record.h"
#include "records/RecordGrid.h"

namespace tesselby {

// The list's history: every change any of the programs makes is written here, durably, before the list
// changes (write-ahead), as the bytes it replaces and the bytes it puts in their place; an add is a
// replacement of nothing at the list's end. So the list as it stood before any change is rebuilt exactly
// from the last whole copy of it before that change (the one taken when the history began, or when
// another program was found to have changed the list) and the changes since.
//
// Calling sequence, under the list's lock:
//     ListHistory history = ListHistory::beginChange(target);   // may record an outside change
//     history.intend(offset, oldBytes, newBytes, description);  // durable; a failure refuses the change
//     ... change the list ...
//     history.finish(changed);
// A kill anywhere leaves a history that rebuilds the list as it was before the change, and, once the
// list has changed, after it: the next beginChange finds which by comparing the list with both.
//
// How another program's change is told: after each change the history keeps the list's stamp (its
// device and file number, size, modification and status-change times) and a hash of its last 4 KiB.
// A list whose stamp and tail hash are unchanged is taken as unchanged; otherwise the list is read whole
// and compared with what the history rebuilds, and only when it differs is a copy of it kept.

// Which program's changes this process records: "tesselby" unless told.
void setHistoryProgram(std::string name);
// While one lives, the adds made by this thread are recorded as an import from source.
class ImportNote {
public:
    explicit ImportNote(std::string source);
    ~ImportNote();
    ImportNote(const ImportNote&) = delete;
    ImportNote& operator=(const ImportNote&) = delete;
};
// Whether changes are recorded (they are unless told): off only to measure what the history costs.
void setHistoryKept(bool kept);
// What the history had to set aside since the last call (a damaged history), in words; said once.
std::vector<std::string> takeHistoryNotices();

// The words for an add of records, and for an edit of record `at` of grid to values.
std::string describeAdd(std::string_view written);
std::string describeEdit(const RecordGrid& grid, std::size_t at, const FieldValues& values);
// "YYYY-MM-DD HH:MM" in local time.
std::string localTimeText(std::int64_t time);

class ListHistory {
public:
    static Result<ListHistory> beginChange(const std::filesystem::path& target);
    Status intend(std::uint64_t offset, std::string_view oldBytes, std::string_view newBytes,
                  const std::string& description);
    // Records whether the list changed; never fails the change (a record lost here is found again by
    // the next beginChange, which compares the list). Without changed, the list is compared whole at the
    // next change, as another program may have made it what it is.
    void finish(bool changed);

    // Finishes the change when it goes: changed unless landed() was called.
    class Finisher {
    public:
        explicit Finisher(ListHistory& history) : m_history(history) {}
        ~Finisher() { m_history.finish(m_landed); }
        Finisher(const Finisher&) = delete;
        Finisher& operator=(const Finisher&) = delete;
        void landed() { m_landed = true; }

    private:
        ListHistory& m_history;
        bool m_landed = false;
    };

    // One change as the history lists it, oldest first.
    struct Change {
        enum class Kind { Began, Change, Outside };
        Kind kind = Kind::Change;
        std::uint64_t sequence = 0;
        std::int64_t time = 0;
        std::string program;
        std::string description;
        bool madeIt = true; // false for a change cut off before it reached the list
    };
    static Result<std::vector<Change>> changes(const std::filesystem::path& target);
    // The list's bytes as they stood just before the change of that sequence number.
    static Result<std::string> listBefore(const std::filesystem::path& target, std::uint64_t sequence);

private:
    ListHistory() = default;
    explicit ListHistory(HistoryLog log) : m_log(std::move(log)) {}
    static Status pruneIfDue(ListHistory& history, const std::filesystem::path& target);
    std::optional<HistoryLog> m_log; // none while the history is not kept
    std::filesystem::path m_target;
    std::string m_stampBefore;   // the list's stamp when the change began
    bool m_stampSettled = false; // whether a write of the change must change that stamp
    bool m_intended = false;
};

} // namespace tesselby
