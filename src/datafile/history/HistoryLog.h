#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "disk/NativeFile.h"

namespace tesselby {

// The file that keeps one list's history: a header line naming the list, then entries, appended (a
// pruning writes a new file and renames it over). Each entry is
//     "@" kind sequence time metaLength dataLength "\n" meta data "\n~" hash start "\n"
// with the numbers in decimal but the trailer's hash (FNV-1a of meta and data) and start (where the entry
// begins) in 16 and 12 hexadecimal digits, so that the last entry is found from the file's end without
// reading what is before it. An entry cut off by a kill is the file's tail after its last whole entry,
// and is cut away the next time the history is opened for writing. Only a landing, the history's last
// word on the list, is ever written over: by the entry after it.
//
// Calling sequence: open (under the list's lock) -> last / entries -> append ... The log never deletes
// anything of its own accord: one it cannot read is set aside under a name of its own.

struct HistoryEntry {
    // Snapshot: the whole list (when the history began or another program changed the list).
    // Change: the data is the old bytes, then the new ones (see ListHistory for its meta). It reached the
    // list unless a Cut follows it; when it is the last entry, that is not known yet.
    // Landed: only ever the last entry: the list's stamp as the history last left it, in the meta.
    // Cut: the change before it never reached the list.
    enum class Kind : char { Snapshot = 'S', Change = 'C', Landed = 'L', Cut = 'X' };
    Kind kind = Kind::Snapshot;
    std::uint64_t sequence = 0;
    std::int64_t time = 0; // seconds since 1970, UTC
    std::string meta;
    std::uint64_t dataAt = 0; // where the data starts in the log
    std::uint64_t dataLength = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t hash = 0;   // the trailer's
    bool dataChecked = false; // whether the data was read and found to match hash
};

// The meta of an entry: fields separated by tabs, none holding a tab or a line break.
std::vector<std::string_view> metaFields(std::string_view meta);
std::string metaOf(const std::vector<std::string>& fields);

class HistoryLog {
public:
    // The folder every history lives in: $XDG_STATE_HOME/tesselby/history (by default
    // ~/.local/state/tesselby/history); on Windows, the local application data folder's
    // Tesselby\history, unless XDG_STATE_HOME is set.
    static std::filesystem::path folder();
    // The history of the list whose final target is target.
    static std::filesystem::path pathFor(const std::filesystem::path& target);

    // Opens the history of target for reading and appending, or begins one (folders 0700, file 0600).
    // A history that cannot be used (a folder or a FIFO at its name, another user's file, one damaged or
    // of another list) is set aside under a name of its own, never deleted, and a new one begins; notice
    // then says what was set aside, once. A torn last entry, what a kill leaves, is cut away.
    // Unless whole is asked for, a history this process has read whole before is read only at its ends
    // (its header, its first entry's header and its last entry), so that a change costs what it writes,
    // not the history's size: entries() then holds the first and the last entry only.
    static Result<HistoryLog> open(const std::filesystem::path& target, std::string& notice, bool whole = false);
    // Opens an existing history for reading only; Cause::Missing when the list has none.
    static Result<HistoryLog> openToRead(const std::filesystem::path& target);

    const std::filesystem::path& path() const { return m_path; }
    bool isNew() const { return m_entriesEnd == m_headerEnd; }
    const std::vector<HistoryEntry>& entries() const { return m_entries; }
    // Whether entries() holds every entry.
    bool whole() const { return m_whole; }
    // The last whole entry, when there is one.
    const HistoryEntry* last() const { return m_entries.empty() ? nullptr : &m_entries.back(); }

    // Appends an entry whose data is written by writeData (exactly dataLength bytes, through the given
    // writer, which hashes them); with durable, it is on the disk when this returns. On failure the
    // log is as it was.
    using DataWriter = std::function<Status(const std::function<Status(std::string_view)>& put)>;
    Status append(HistoryEntry::Kind kind, std::int64_t time, std::string_view meta, std::uint64_t dataLength,
                  const DataWriter& writeData, bool durable);
    Status append(HistoryEntry::Kind kind, std::int64_t time, std::string_view meta, std::string_view data,
                  bool durable);

    // Reads [offset, offset + length) of an entry's data into out.
    Status readData(const HistoryEntry& entry, std::uint64_t offset, std::uint64_t length, std::string& out);
    // Reads a copy's whole data into out, checked against its hash: a history is read without reading its
    // copies of the list (see scan), so a damaged copy is found here.
    Status readCopy(const HistoryEntry& entry, std::string& out);

private:
    HistoryLog(std::filesystem::path path, NativeFile file) : m_path(std::move(path)), m_file(std::move(file)) {}
    // Reads every entry, and checks each against its trailer's hash but for a copy's data, which is the
    // whole list and is checked when it is read: opening a history then costs its changes, not the list's
    // size. False when the file is not a history of target (a torn tail is not that).
    Result<bool> scan(const std::filesystem::path& target);
    // Reads only the ends (see open); false when they are not both whole, and the file must be scanned.
    Result<bool> scanEnds(const std::filesystem::path& target);
    // The history written anew from entry first on, after a copy of the list as it stood before it.
    Status pruneBefore(const std::filesystem::path& target, std::size_t first, std::int64_t time,
                       const std::string& list, const std::string& meta);
    friend class ListHistory;

    std::filesystem::path m_path;
    NativeFile m_file;
    std::vector<HistoryEntry> m_entries;
    std::uint64_t m_headerEnd = 0;
    std::uint64_t m_entriesEnd = 0; // where the last whole entry ends
    bool m_whole = true;
};

// FNV-1a, 64 bits: enough to tell a damaged entry or a changed tail, not a defence against an attacker.
class Fnv1a {
public:
    void add(std::string_view bytes)
    {
        for (const char c : bytes) {
            m_hash ^= static_cast<unsigned char>(c);
            m_hash *= 0x100000001b3ULL;
        }
    }
    std::uint64_t value() const { return m_hash; }

private:
    std::uint64_t m_hash = 0xcbf29ce484222325ULL;
};

} // namespace tesselby
