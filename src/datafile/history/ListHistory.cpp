#include "history/ListHistory.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>

#include "disk/FileSystem.h"
#include "format/ItemScanner.h"
#include "format/TextEncoding.h"
#include "records/RecordStream.h"

namespace tesselby {

namespace {

constexpr char kDamagedEntry[] = "the history is damaged: a change it holds does not fit the list before it";
constexpr char kNotKept[] = "the change was not made, because its history could not be written";
constexpr std::uint64_t kTailBytes = 4096;

std::string& programName()
{
    static std::string name = "tesselby";
    return name;
}

thread_local std::optional<std::string> importSource;
std::atomic<bool> historyKept{true};

std::mutex noticesMutex;
std::vector<std::string>& notices()
{
    static std::vector<std::string> list;
    return list;
}

std::int64_t nowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t number(std::string_view text)
{
    std::uint64_t value = 0;
    (void)std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The whole list, or nothing when there is no file yet.
Result<std::string> readList(const std::filesystem::path& target)
{
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Read);
    if (!file)
        return file.error().cause == FileError::Cause::Missing ? Result<std::string>(std::string())
                                                               : Result<std::string>(file.error());
    return file.value().readAll();
}

// The list's stamp and the hash of its tail, as text (see ListHistory.h).
Result<std::string> stampOf(const std::filesystem::path& target)
{
    const Result<FileStamp> stamp = stampAt(target);
    if (!stamp)
        return stamp.error().cause == FileError::Cause::Missing ? Result<std::string>(std::string("missing"))
                                                                : Result<std::string>(stamp.error());
    const FileStamp& s = stamp.value();
    Fnv1a tail;
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Read);
    if (!file)
        return file.error();
    const std::uint64_t from = s.size > kTailBytes ? s.size - kTailBytes : 0;
    std::string bytes(static_cast<std::size_t>(s.size - from), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const Result<std::size_t> some = file.value().readSomeAt(from + got, bytes.data() + got, bytes.size() - got);
        if (!some)
            return some.error();
        if (some.value() == 0)
            break;
        got += some.value();
    }
    bytes.resize(got);
    tail.add(bytes);
    return std::to_string(s.device) + " " + std::to_string(s.file) + " " + std::to_string(s.size) + " " +
           std::to_string(s.modified) + " " + std::to_string(s.changed) + " " + std::to_string(tail.value());
}

// A stamp in 12 hexadecimal digits, as a change keeps the one the list had before it.
std::string stampKey(std::string_view stamp)
{
    Fnv1a hash;
    hash.add(stamp);
    char text[13];
    std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(hash.value() & 0xffffffffffffULL));
    return text;
}

// Puts a change entry's new bytes in place of its old ones in list; false when they do not fit.
Result<bool> applyChange(HistoryLog& log, const HistoryEntry& entry, std::string& list)
{
    const std::vector<std::string_view> fields = metaFields(entry.meta);
    if (fields.size() < 4)
        return false;
    const std::uint64_t offset = number(fields[2]);
    const std::uint64_t oldLength = number(fields[3]);
    if (oldLength > entry.dataLength || offset > list.size() || oldLength > list.size() - offset)
        return false;
    std::string old, added;
    if (Status read = log.readData(entry, 0, oldLength, old); !read)
        return read.error();
    if (list.compare(static_cast<std::size_t>(offset), old.size(), old) != 0)
        return false;
    if (Status read = log.readData(entry, oldLength, entry.dataLength - oldLength, added); !read)
        return read.error();
    list.replace(static_cast<std::size_t>(offset), old.size(), added);
    return true;
}

// The list as the history holds it after its first `count` entries. A change reached the list unless a
// Cut follows it; the last one, with nothing after it to say, is left out and its index given in pending.
Result<std::string> rebuild(HistoryLog& log, std::size_t count, std::optional<std::size_t>& pending)
{
    const std::vector<HistoryEntry>& entries = log.entries();
    // Only from the last copy on: what came before it is not needed.
    std::size_t from = 0;
    for (std::size_t i = count; i-- > 0;)
        if (entries[i].kind == HistoryEntry::Kind::Snapshot) {
            from = i;
            break;
        }
    std::string list;
    pending.reset();
    const auto applyPending = [&]() -> Status {
        const Result<bool> applied = applyChange(log, entries[*pending], list);
        if (!applied)
            return applied.error();
        if (!applied.value())
            return FileError{log.path(), kDamagedEntry};
        pending.reset();
        return {};
    };
    for (std::size_t i = from; i < count; ++i) {
        const HistoryEntry& entry = entries[i];
        if (pending && entry.kind != HistoryEntry::Kind::Cut && entry.kind != HistoryEntry::Kind::Snapshot)
            if (Status applied = applyPending(); !applied)
                return applied.error();
        switch (entry.kind) {
        case HistoryEntry::Kind::Snapshot:
            if (Status read = log.readCopy(entry, list); !read)
                return read.error();
            pending.reset();
            break;
        case HistoryEntry::Kind::Change:
            pending = i;
            break;
        case HistoryEntry::Kind::Landed:
            break;
        case HistoryEntry::Kind::Cut:
            pending.reset();
            break;
        }
    }
    // The entry after the last one rebuilt says whether it landed.
    if (pending && count < entries.size() && entries[count].kind != HistoryEntry::Kind::Cut)
        if (Status applied = applyPending(); !applied)
            return applied.error();
    return list;
}

// "3 people added, 1 changed": how the list now differs from the list before, by whole people.
std::string describeOutside(std::string_view before, std::string_view now)
{
    // Each person by a hash of their values as written (quotes doubled), the two lists' hashes sorted and
    // walked side by side: a list of a million people is told in a fraction of a second.
    const auto hashes = [](std::string_view text) {
        struct Hashes : RecordStream::Visitor {
            std::vector<std::uint64_t> out;
            std::string escaped;
            static std::uint64_t mix(std::uint64_t hash, std::string_view value)
            {
                return (hash ^ std::hash<std::string_view>{}(value)) * 0x9E3779B97F4A7C15ULL;
            }
            void writtenRecords(const RecordStream::WrittenWindow& window) override
            {
                for (std::size_t r = 0; r < window.records; ++r) {
                    // Four lines, each a value between quotes and a line end.
                    std::string_view record = window.record(r);
                    std::uint64_t hash = 0;
                    for (int field = 0; field < kFieldCount; ++field) {
                        const std::size_t lineEnd = record.find('\n');
                        std::string_view line = record.substr(0, lineEnd);
                        if (line.ends_with('\r'))
                            line.remove_suffix(1);
                        hash = mix(hash, line.size() >= 2 ? line.substr(1, line.size() - 2) : line);
                        record.remove_prefix(std::min(record.size(), lineEnd + 1));
                    }
                    out.push_back(hash);
                }
            }
            void readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view, std::uint64_t,
                            bool) override
            {
                std::uint64_t hash = 0;
                for (int field = 0; field < kFieldCount; ++field) {
                    const RawItem& item = items[static_cast<std::size_t>(field)];
                    if (field >= count || item.quoted) {
                        hash = mix(hash, field < count ? item.raw : std::string_view());
                        continue;
                    }
                    escaped.clear();
                    for (const char c : item.raw)
                        escaped.append(c == '"' ? 2 : 1, c);
                    hash = mix(hash, escaped);
                }
                out.push_back(hash);
            }
        } visitor;
        RecordStream stream;
        (void)stream.walk(sourceOf(text), visitor); // a text in memory cannot fail to be read
        std::sort(visitor.out.begin(), visitor.out.end());
        return std::move(visitor.out);
    };
    const std::vector<std::uint64_t> old = hashes(before);
    const std::vector<std::uint64_t> changed = hashes(now);
    long added = 0, removed = 0;
    for (std::size_t i = 0, j = 0; i < old.size() || j < changed.size();) {
        if (j == changed.size() || (i < old.size() && old[i] < changed[j])) {
            ++removed;
            ++i;
        } else if (i == old.size() || changed[j] < old[i]) {
            ++added;
            ++j;
        } else {
            ++i;
            ++j;
        }
    }
    const long edited = std::min(added, removed);
    added -= edited;
    removed -= edited;
    std::string text = "changed outside Tesselby: ";
    std::vector<std::string> parts;
    auto people = [](long n) { return std::to_string(n) + (n == 1 ? " person" : " people"); };
    if (added > 0)
        parts.push_back(people(added) + " added");
    if (edited > 0)
        parts.push_back((parts.empty() ? people(edited) : std::to_string(edited)) + " changed");
    if (removed > 0)
        parts.push_back((parts.empty() ? people(removed) : std::to_string(removed)) + " removed");
    if (parts.empty())
        parts.push_back("the same people, written differently");
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i > 0 ? ", " : "") + parts[i];
    return text;
}

std::string personName(const Record& record)
{
    std::string name = record[0];
    if (!record[1].empty())
        name += (name.empty() ? "" : " ") + record[1];
    return name.empty() ? "a person without a name" : name;
}

Status snapshot(HistoryLog& log, const std::string& kind, const std::string& description, const std::string& list)
{
    return log.append(HistoryEntry::Kind::Snapshot, nowSeconds(), metaOf({programName(), description, kind}), list,
                      true);
}

// The history keeps the changes of the last kKeptDays days, and at least the last kKeptChanges.
constexpr std::int64_t kKeptDays = 30;
constexpr std::size_t kKeptChanges = 200;
constexpr std::int64_t kDay = 24 * 60 * 60;

} // namespace

// Prunes, at most about once a day, what is older than the history keeps; the list before the oldest
// change kept becomes the history's beginning, and says so.
Status ListHistory::pruneIfDue(ListHistory& history, const std::filesystem::path& target)
{
    HistoryLog& log = *history.m_log;
    const std::int64_t now = nowSeconds();
    const std::vector<HistoryEntry>& ends = log.entries();
    // About one entry a change; tried again only after as many changes again as are kept at least.
    if (ends.size() < 2 || ends.front().time >= now - (kKeptDays + 1) * kDay ||
        ends.back().sequence - ends.front().sequence < 2 * kKeptChanges)
        return {};
    std::string notice;
    Result<HistoryLog> whole = HistoryLog::open(target, notice, true);
    if (!whole || !notice.empty())
        return {}; // what is wrong with it is found and said at the next change that reads it whole
    const std::vector<HistoryEntry>& entries = whole.value().entries();
    std::size_t first = entries.size();
    std::size_t changes = 0;
    for (std::size_t i = entries.size(); i-- > 0;) {
        const HistoryEntry& entry = entries[i];
        if (entry.kind != HistoryEntry::Kind::Change && entry.kind != HistoryEntry::Kind::Snapshot)
            continue;
        if (changes >= kKeptChanges && entry.time < now - kKeptDays * kDay)
            break;
        first = i;
        ++changes;
    }
    if (first == 0 || first == entries.size())
        return {};
    std::optional<std::size_t> pending;
    const Result<std::string> list = rebuild(whole.value(), first, pending);
    if (!list)
        return {};
    const std::string meta =
        metaOf({programName(),
                "began keeping the list's history; changes before " + localTimeText(entries[first].time) +
                    " were older than " + std::to_string(kKeptDays) + " days and are no longer kept",
                "began"});
    if (Status pruned = whole.value().pruneBefore(target, first, entries[first].time, list.value(), meta); !pruned)
        return {}; // kept as it was, and tried again at the next change
    history.m_log.emplace(std::move(whole.value()));
    return {};
}

void setHistoryKept(bool kept)
{
    historyKept = kept;
}

void setHistoryProgram(std::string name)
{
    programName() = std::move(name);
}

ImportNote::ImportNote(std::string source)
{
    importSource = std::move(source);
}

ImportNote::~ImportNote()
{
    importSource.reset();
}

std::vector<std::string> takeHistoryNotices()
{
    const std::lock_guard<std::mutex> hold(noticesMutex);
    return std::exchange(notices(), {});
}

namespace {

// The records written as the list's lines, whole ones only; false when the text holds anything else.
bool recordsOf(std::string_view written, std::vector<Record>& records, std::size_t& count, std::size_t keep)
{
    Record record;
    std::size_t items = 0;
    ItemScanner scanner(written, false);
    for (RawItem item; scanner.next(item); ++items) {
        if (records.size() == keep)
            continue;
        record[items % kFieldCount] = decodeItem(item);
        if (items % kFieldCount == kFieldCount - 1)
            records.push_back(record);
    }
    count = items / kFieldCount;
    return items % kFieldCount == 0;
}

std::string describeAddedRecords(std::string_view written, const std::optional<std::string>& source)
{
    auto people = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " person" : " people"); };
    // The names of the first few, the number of all.
    std::vector<Record> named;
    std::size_t count = 0;
    (void)recordsOf(written, named, count, 3);
    if (source)
        return "imported " + people(count) + " from " + *source;
    if (count == 1)
        return "added " + personName(named.front());
    std::string text = "added " + people(count) + ":";
    for (std::size_t i = 0; i < named.size(); ++i)
        text += (i > 0 ? ", " : " ") + personName(named[i]);
    return count > named.size() ? text + ", …" : text;
}

std::string describeEditOf(const Record& old, const PerField<const std::string*>& now)
{
    std::string who = old[1].empty() ? old[0] : old[1] + (old[0].empty() ? "" : ", " + old[0]);
    std::string text = "edited " + (who.empty() ? std::string("a person without a name") : who) + ":";
    bool first = true;
    for (const Field f : kFields)
        if (now[f] != nullptr && *now[f] != old[f]) {
            text += std::string(first ? " " : "; ") + std::string(namesOf(f).option) + " " + old[f] + " → " + *now[f];
            first = false;
        }
    return first ? text + " no value changed" : text;
}

// The words a change is listed with, made from its bytes when they are an add's or one person's edit:
// such a change keeps no words of its own, so that its history costs about the bytes it changed.
std::optional<std::string> describeFromBytes(std::string_view old, std::string_view added)
{
    std::vector<Record> before, after;
    std::size_t beforeCount = 0, afterCount = 0;
    if (!recordsOf(old, before, beforeCount, 1) || !recordsOf(added, after, afterCount, 1) || afterCount == 0)
        return std::nullopt;
    if (beforeCount == 0)
        return describeAddedRecords(added, std::nullopt);
    if (beforeCount != 1 || afterCount != 1)
        return std::nullopt;
    PerField<const std::string*> now{};
    for (const Field f : kFields)
        now[f] = &after.front()[f];
    return describeEditOf(before.front(), now);
}

constexpr char kDefaultProgram[] = "tesselby";

// A change's words, kept short: a value of any size is in its bytes, and an entry's words are read with
// its header (a history holding a mebibyte of them would not be read back).
std::string shortened(std::string words)
{
    constexpr std::size_t kMostBytes = 1000;
    if (words.size() <= kMostBytes)
        return words;
    words.resize(validUtf8Prefix(std::string_view(words).substr(0, kMostBytes)));
    return words + "…";
}

} // namespace

std::string describeAdd(std::string_view written)
{
    return describeAddedRecords(written, importSource);
}

std::string describeEdit(const RecordGrid& grid, std::size_t at, const FieldValues& values)
{
    const Record old = at >= 1 && at <= grid.recordCount() ? grid.record(at) : Record{};
    PerField<const std::string*> now{};
    for (const Field f : kFields)
        now[f] = values[f] ? &*values[f] : nullptr;
    return describeEditOf(old, now);
}

std::string localTimeText(std::int64_t time)
{
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

Result<ListHistory> ListHistory::beginChange(const std::filesystem::path& target)
{
    if (!historyKept)
        return ListHistory();
    std::string notice;
    Result<HistoryLog> opened = HistoryLog::open(target, notice);
    if (!notice.empty()) {
        const std::lock_guard<std::mutex> hold(noticesMutex);
        notices().push_back(notice);
    }
    if (!opened)
        return FileError{target,
                         std::string(kNotKept) + " (" + opened.error().path + ": " + opened.error().reason() + ")"};
    ListHistory history(std::move(opened.value()));
    history.m_target = target;
    HistoryLog& log = *history.m_log;
    // (a reference that stays good: m_log is emplaced over, never reset)
    const Result<std::string> stamp = stampOf(target);
    if (!stamp)
        return stamp.error();
    history.m_stampBefore = stamp.value();
    // A kill's cut-off change is told by this stamp only when no write of the change could leave it as it
    // is (see intend).
    const Result<FileStamp> before = stampAt(target);
    history.m_stampSettled = before && settled(before.value());
    const HistoryEntry* last = log.last();
    if (last != nullptr && last->kind == HistoryEntry::Kind::Landed && last->meta == stamp.value()) {
        if (Status pruned = pruneIfDue(history, target); !pruned)
            return pruned.error();
        return history;
    }
    // A change a kill cut off before it touched the list: the list still has the stamp it had before.
    if (last != nullptr && last->kind == HistoryEntry::Kind::Change) {
        const std::vector<std::string_view> fields = metaFields(last->meta);
        if (fields.size() > 4 && !fields[4].empty() && fields[4] == stampKey(stamp.value())) {
            Status kept = log.append(HistoryEntry::Kind::Cut, nowSeconds(), "", "", false);
            if (kept)
                kept = log.append(HistoryEntry::Kind::Landed, nowSeconds(), stamp.value(), "", false);
            if (!kept)
                return FileError{target,
                                 std::string(kNotKept) + " (" + kept.error().path + ": " + kept.error().reason() + ")"};
            if (Status pruned = pruneIfDue(history, target); !pruned)
                return pruned.error();
            return history;
        }
    }
    if (!log.whole()) {
        // Read whole, to compare and rebuild; a damage found then is set aside as at any open.
        Result<HistoryLog> whole = HistoryLog::open(target, notice, true);
        if (!notice.empty()) {
            const std::lock_guard<std::mutex> hold(noticesMutex);
            notices().push_back(notice);
        }
        if (!whole)
            return FileError{target,
                             std::string(kNotKept) + " (" + whole.error().path + ": " + whole.error().reason() + ")"};
        history.m_log.emplace(std::move(whole.value()));
        last = log.last();
    }

    // The history's last word does not match the list: a change cut off, another program's change, or
    // a history just begun. The list is read whole and compared, which only happens then.
    const Result<std::string> list = readList(target);
    if (!list)
        return list.error();
    auto refused = [&target](const FileError& error) {
        return FileError{target, std::string(kNotKept) + " (" + error.path + ": " + error.reason() + ")"};
    };
    if (last == nullptr) {
        if (Status kept = snapshot(log, "began", "began keeping the list's history", list.value()); !kept)
            return refused(kept.error());
    } else {
        std::optional<std::size_t> pending;
        Result<std::string> held = rebuild(log, log.entries().size(), pending);
        if (!held) {
            // What cannot be rebuilt is kept as it is, and the list copied anew after it.
            const std::lock_guard<std::mutex> hold(noticesMutex);
            notices().push_back(held.error().path + ": " + held.error().reason() + "; the list was copied anew");
            held = std::string();
            pending.reset();
        }
        bool landed = false;
        if (pending) {
            std::string after = held.value();
            const Result<bool> applied = applyChange(log, log.entries()[*pending], after);
            if (applied && applied.value() && after == list.value()) {
                landed = true;
            } else if (Status cut = log.append(HistoryEntry::Kind::Cut, nowSeconds(), "", "", true); !cut) {
                return refused(cut.error());
            }
        }
        if (!landed && held.value() != list.value()) {
            if (Status kept = snapshot(log, "outside", describeOutside(held.value(), list.value()), list.value());
                !kept)
                return refused(kept.error());
        }
    }
    if (Status kept = log.append(HistoryEntry::Kind::Landed, nowSeconds(), stamp.value(), "", false); !kept)
        return refused(kept.error());
    if (Status pruned = pruneIfDue(history, target); !pruned)
        return pruned.error();
    return history;
}

Status ListHistory::intend(std::uint64_t offset, std::string_view oldBytes, std::string_view newBytes,
                           const std::string& description)
{
    if (!m_log)
        return {};
    // Tesselby's own program, and words the bytes give again, are left out (see describeFromBytes); the
    // stamp the list had before is kept, to tell at once whether a change a kill cut off touched it.
    const std::string meta =
        metaOf({programName() == kDefaultProgram ? std::string() : programName(),
                describeFromBytes(oldBytes, newBytes) == description ? std::string() : shortened(description),
                std::to_string(offset), std::to_string(oldBytes.size()),
                // A change of the list's size cannot land and leave the stamp; one of the same size can, within
                // a step of a coarse file clock, unless the list was last written long enough before.
                m_stampSettled || oldBytes.size() != newBytes.size() ? stampKey(m_stampBefore) : std::string()});
    const Status kept = m_log->append(
        HistoryEntry::Kind::Change, nowSeconds(), meta, oldBytes.size() + newBytes.size(),
        [&](const auto& put) {
            if (Status old = put(oldBytes); !old)
                return old;
            return put(newBytes);
        },
        true);
    if (!kept)
        return FileError{m_target,
                         std::string(kNotKept) + " (" + kept.error().path + ": " + kept.error().reason() + ")"};
    m_intended = true;
    return {};
}

void ListHistory::finish(bool changed)
{
    if (!m_intended || !m_log)
        return;
    m_intended = false;
    const Result<std::string> stamp = stampOf(m_target);
    if (!changed) {
        // Unless the list is just as it was before, the next change compares it whole.
        if (m_log->append(HistoryEntry::Kind::Cut, nowSeconds(), "", "", false) && stamp &&
            stamp.value() == m_stampBefore)
            (void)m_log->append(HistoryEntry::Kind::Landed, nowSeconds(), stamp.value(), "", false);
        return;
    }
    if (stamp)
        (void)m_log->append(HistoryEntry::Kind::Landed, nowSeconds(), stamp.value(), "", false);
}

Result<std::vector<ListHistory::Change>> ListHistory::changes(const std::filesystem::path& target)
{
    Result<HistoryLog> log = HistoryLog::openToRead(target);
    if (!log)
        return log.error();
    std::vector<Change> list;
    for (const HistoryEntry& entry : log.value().entries()) {
        if (entry.kind == HistoryEntry::Kind::Cut && !list.empty() && list.back().kind == Change::Kind::Change)
            list.back().madeIt = false;
        if (entry.kind != HistoryEntry::Kind::Snapshot && entry.kind != HistoryEntry::Kind::Change)
            continue;
        const std::vector<std::string_view> fields = metaFields(entry.meta);
        Change change;
        change.sequence = entry.sequence;
        change.time = entry.time;
        change.program = fields.size() > 0 && !fields[0].empty() ? std::string(fields[0]) : kDefaultProgram;
        change.description = fields.size() > 1 ? std::string(fields[1]) : std::string();
        if (entry.kind == HistoryEntry::Kind::Change && change.description.empty()) {
            // Words left out when the change was kept: its bytes give them again.
            std::string data;
            const std::uint64_t oldLength = fields.size() > 3 ? number(fields[3]) : 0;
            std::optional<std::string> words;
            if (log.value().readCopy(entry, data) && oldLength <= data.size())
                words = describeFromBytes(std::string_view(data).substr(0, static_cast<std::size_t>(oldLength)),
                                          std::string_view(data).substr(static_cast<std::size_t>(oldLength)));
            change.description =
                words ? metaOf({shortened(*words)}) : "changed the list (its entry in the history is damaged)";
        }
        if (entry.kind == HistoryEntry::Kind::Snapshot)
            change.kind = fields.size() > 2 && fields[2] == "began" ? Change::Kind::Began : Change::Kind::Outside;
        if (change.kind == Change::Kind::Outside)
            change.program = "noticed by " + change.program;
        list.push_back(std::move(change));
    }
    return list;
}

Result<std::string> ListHistory::listBefore(const std::filesystem::path& target, std::uint64_t sequence)
{
    Result<HistoryLog> log = HistoryLog::openToRead(target);
    if (!log)
        return log.error();
    const std::vector<HistoryEntry>& entries = log.value().entries();
    const auto at = std::find_if(entries.begin(), entries.end(),
                                 [sequence](const HistoryEntry& entry) { return entry.sequence == sequence; });
    if (at == entries.end())
        return FileError{log.value().path(), "the history holds no change " + std::to_string(sequence)};
    std::optional<std::size_t> pending;
    return rebuild(log.value(), static_cast<std::size_t>(at - entries.begin()), pending);
}

} // namespace tesselby
