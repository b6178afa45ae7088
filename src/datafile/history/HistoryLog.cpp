#include "history/HistoryLog.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

#include "disk/DataFilePath.h"
#include "disk/FileSystem.h"

namespace tesselby {

namespace {

constexpr std::string_view kHeaderStart = "tesselby history 1\t";
// "\n~" then the hash in 16 hexadecimal digits and the entry's start in 12, then "\n".
constexpr std::size_t kTrailerSize = 2 + 16 + 12 + 1;
// A history that cannot be used is renamed to its name with this, a time and a number added.
constexpr char kSetAsideMarker[] = ".set-aside-";

constexpr char kDamaged[] = "it is damaged or is not a history of this list";
constexpr char kNotOwn[] = "it belongs to another user";

std::string hex16(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return std::string(text, 16);
}

bool parseHex(std::string_view text, std::size_t digits, std::uint64_t& value)
{
    if (text.size() != digits)
        return false;
    const auto [end, failed] = std::from_chars(text.data(), text.data() + digits, value, 16);
    return failed == std::errc() && end == text.data() + digits;
}

// The trailer "\n~" hash start "\n" at the start of text, parsed.
bool parseTrailer(std::string_view text, std::uint64_t& hash, std::uint64_t& start)
{
    return text.size() == kTrailerSize && text.starts_with("\n~") && text.back() == '\n' &&
           parseHex(text.substr(2, 16), 16, hash) && parseHex(text.substr(18, 12), 12, start);
}

// Reads exactly length bytes at offset; false at the file's end.
Result<bool> readExactly(NativeFile& file, std::uint64_t offset, std::size_t length, std::string& out)
{
    out.resize(length);
    std::size_t got = 0;
    while (got < length) {
        const Result<std::size_t> some = file.readSomeAt(offset + got, out.data() + got, length - got);
        if (!some)
            return some.error();
        if (some.value() == 0) {
            out.resize(got);
            return false;
        }
        got += some.value();
    }
    return true;
}

// A file read front to back through a buffer of up to a mebibyte: a history of many small entries is
// then read in a few reads, not several for each entry.
class BufferedReader {
public:
    BufferedReader(NativeFile& file, std::uint64_t size)
        : m_file(file), m_room(static_cast<std::size_t>(std::min<std::uint64_t>(size, kChunk))),
          m_buffer(new char[m_room])
    {
    }

    // The bytes [offset, offset + length), fewer only at the end of the file; good until the next call.
    Result<std::string_view> at(std::uint64_t offset, std::size_t length)
    {
        if (offset < m_start || offset + length > m_start + m_held) {
            if (length > m_room) {
                m_room = length;
                m_buffer.reset(new char[m_room]);
            }
            m_start = offset;
            m_held = 0;
            while (m_held < m_room) {
                const Result<std::size_t> got =
                    m_file.readSomeAt(offset + m_held, m_buffer.get() + m_held, m_room - m_held);
                if (!got)
                    return got.error();
                if (got.value() == 0)
                    break;
                m_held += got.value();
            }
        }
        const std::size_t from = static_cast<std::size_t>(offset - m_start);
        return std::string_view(m_buffer.get() + from, std::min(length, m_held - std::min(from, m_held)));
    }

private:
    static constexpr std::uint64_t kChunk = std::uint64_t(1) << 20;
    NativeFile& m_file;
    std::size_t m_room;
    std::unique_ptr<char[]> m_buffer; // uninitialised: only what is read is used
    std::uint64_t m_start = 0;
    std::size_t m_held = 0;
};

// Parses "@K seq time metaLen dataLen\n" at the start of text: its length, or 0 when it is not one.
std::size_t parseHeader(std::string_view text, HistoryEntry& entry, std::uint64_t& metaLength)
{
    const std::size_t lineEnd = text.find('\n');
    if (text.size() < 3 || text[0] != '@' || lineEnd == std::string_view::npos)
        return 0;
    const char kind = text[1];
    if (kind != 'S' && kind != 'C' && kind != 'L' && kind != 'X')
        return 0;
    entry.kind = static_cast<HistoryEntry::Kind>(kind);
    const char* at = text.data() + 2;
    const char* end = text.data() + lineEnd;
    std::uint64_t numbers[4] = {};
    for (std::uint64_t& number : numbers) {
        if (at == end || *at++ != ' ')
            return 0;
        const auto [next, failed] = std::from_chars(at, end, number);
        if (failed != std::errc())
            return 0;
        at = next;
    }
    if (at != end)
        return 0;
    entry.sequence = numbers[0];
    entry.time = static_cast<std::int64_t>(numbers[1]);
    metaLength = numbers[2];
    entry.dataLength = numbers[3];
    return lineEnd + 1;
}

// Whether text, the whole rest of the file, is the start of an entry's header that a kill cut off.
bool isTornHeader(std::string_view text)
{
    if (text.empty() || text[0] != '@' || text.find('\n') != std::string_view::npos)
        return false;
    if (text.size() > 1 && text[1] != 'S' && text[1] != 'C' && text[1] != 'L' && text[1] != 'X')
        return false;
    return text.size() < 3 || text.find_first_not_of(" 0123456789", 2) == std::string_view::npos;
}

// Whether a whole entry starting after `after` ends the file: then an entry before it that runs past the
// file's end is not a torn tail but a damaged length, and cutting there would lose the entries after it.
Result<bool> wholeEntryEndsFile(NativeFile& file, std::uint64_t after, std::uint64_t size)
{
    std::string bytes;
    if (size < kTrailerSize)
        return false;
    if (Result<bool> read = readExactly(file, size - kTrailerSize, kTrailerSize, bytes); !read || !read.value())
        return read;
    std::uint64_t hash = 0, start = 0;
    if (!parseTrailer(bytes, hash, start) || start <= after || start >= size)
        return false;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(96, size - start));
    if (Result<bool> read = readExactly(file, start, want, bytes); !read)
        return read;
    HistoryEntry entry;
    std::uint64_t metaLength = 0;
    const std::size_t headerLength = parseHeader(bytes, entry, metaLength);
    if (headerLength == 0 || start + headerLength + kTrailerSize > size)
        return false;
    const std::uint64_t length = size - kTrailerSize - start - headerLength;
    if (metaLength > length || entry.dataLength != length - metaLength)
        return false;
    // Checked against its hash too, so that bytes in a torn entry's data that look like an entry are not one.
    if (Result<bool> read = readExactly(file, start + headerLength, static_cast<std::size_t>(length), bytes); !read)
        return read;
    Fnv1a check;
    check.add(bytes);
    return check.value() == hash;
}

} // namespace

std::vector<std::string_view> metaFields(std::string_view meta)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = meta.find('\t');
        fields.push_back(meta.substr(0, tab));
        if (tab == std::string_view::npos)
            return fields;
        meta.remove_prefix(tab + 1);
    }
}

std::string metaOf(const std::vector<std::string>& fields)
{
    std::string meta;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            meta += '\t';
        for (const char c : fields[i])
            meta += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    }
    return meta;
}

std::filesystem::path HistoryLog::folder()
{
    if (std::optional<std::filesystem::path> state = absolutePathFromEnvironment("XDG_STATE_HOME"))
        return *state / "tesselby" / "history";
#ifdef _WIN32
    if (std::optional<std::filesystem::path> local = absolutePathFromEnvironment("LOCALAPPDATA"))
        return *local / "Tesselby" / "history";
    return std::filesystem::path("C:/Tesselby/history");
#else
    const std::optional<std::filesystem::path> home = absolutePathFromEnvironment("HOME");
    return home.value_or(std::filesystem::path("/")) / ".local" / "state" / "tesselby" / "history";
#endif
}

std::filesystem::path HistoryLog::pathFor(const std::filesystem::path& target)
{
    // One history per final target; its file name says which list it keeps, and the hash of the whole
    // path keeps two lists of one name apart.
    Fnv1a hash;
    hash.add(pathText(target));
    std::string name = pathText(target.filename());
    for (char& c : name)
        if (c == ' ' || c == ':' || c == '\\')
            c = '_';
    return folder() / std::filesystem::u8path(name + "-" + hex16(hash.value()) + ".history");
}

Result<bool> HistoryLog::scan(const std::filesystem::path& target)
{
    m_entries.clear();
    m_whole = true;
    const Result<std::uint64_t> size = m_file.size();
    if (!size)
        return size.error();
    const std::string expected = std::string(kHeaderStart) + pathText(target) + "\n";
    std::string bytes;
    Result<bool> read = readExactly(m_file, 0, expected.size(), bytes);
    if (!read)
        return read.error();
    if (!read.value() || bytes != expected)
        // A header a kill cut off is a history never begun.
        return size.value() < expected.size() && expected.starts_with(bytes.substr(0, size.value()));
    m_headerEnd = m_entriesEnd = expected.size();
    std::uint64_t at = m_headerEnd;
    BufferedReader reader(m_file, size.value());
    while (at < size.value()) {
        HistoryEntry entry;
        entry.start = at;
        const Result<std::string_view> head =
            reader.at(at, static_cast<std::size_t>(std::min<std::uint64_t>(96, size.value() - at)));
        if (!head)
            return head.error();
        std::uint64_t metaLength = 0;
        const std::size_t headerLength = parseHeader(head.value(), entry, metaLength);
        if (headerLength == 0) {
            // A header cut off in the middle is a torn tail too (a write a kill stops at a page's end).
            if (at + head.value().size() == size.value() && isTornHeader(head.value()))
                break;
            return false;
        }
        const std::uint64_t dataAt = at + headerLength + metaLength;
        const std::uint64_t end = dataAt + entry.dataLength + kTrailerSize;
        if (metaLength > (1u << 20) || end > size.value() || end < dataAt) {
            const Result<bool> damaged = wholeEntryEndsFile(m_file, at, size.value());
            if (!damaged)
                return damaged.error();
            if (damaged.value())
                return false;
            break; // the torn tail a kill leaves
        }
        const Result<std::string_view> meta = reader.at(at + headerLength, static_cast<std::size_t>(metaLength));
        if (!meta)
            return meta.error();
        entry.meta = meta.value();
        Fnv1a hash;
        hash.add(entry.meta);
        entry.dataChecked = entry.kind != HistoryEntry::Kind::Snapshot;
        for (std::uint64_t done = 0; entry.dataChecked && done < entry.dataLength;) {
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, entry.dataLength - done));
            const Result<std::string_view> chunk = reader.at(dataAt + done, piece);
            if (!chunk)
                return chunk.error();
            hash.add(chunk.value());
            done += piece;
        }
        const Result<std::string_view> trailer = reader.at(end - kTrailerSize, kTrailerSize);
        if (!trailer)
            return trailer.error();
        std::uint64_t storedHash = 0, storedStart = 0;
        const std::string_view tail = trailer.value();
        const bool whole = parseTrailer(tail, storedHash, storedStart) &&
                           (!entry.dataChecked || storedHash == hash.value()) && storedStart == at;
        if (!whole) {
            // Only the last entry may be torn; a bad one with whole entries after it is damage.
            if (end == size.value())
                break;
            return false;
        }
        entry.dataAt = dataAt;
        entry.end = end;
        entry.hash = storedHash;
        m_entries.push_back(std::move(entry));
        at = end;
    }
    m_entriesEnd = m_entries.empty() ? m_headerEnd : m_entries.back().end;
    return true;
}

namespace {

// The histories this process has read whole and found sound; it only appends to them after that.
std::mutex readWholeMutex;
std::set<std::string>& readWhole()
{
    static std::set<std::string> paths;
    return paths;
}

} // namespace

Result<bool> HistoryLog::scanEnds(const std::filesystem::path& target)
{
    const Result<std::uint64_t> size = m_file.size();
    if (!size)
        return size.error();
    const std::string expected = std::string(kHeaderStart) + pathText(target) + "\n";
    std::string bytes;
    Result<bool> read = readExactly(m_file, 0, expected.size(), bytes);
    if (!read)
        return read.error();
    if (!read.value() || bytes != expected)
        return false;
    m_headerEnd = m_entriesEnd = expected.size();
    m_entries.clear();
    if (size.value() == m_headerEnd)
        return true;
    if (size.value() < m_headerEnd + kTrailerSize)
        return false;
    std::string trailer;
    read = readExactly(m_file, size.value() - kTrailerSize, kTrailerSize, trailer);
    if (!read)
        return read.error();
    std::uint64_t storedHash = 0, lastStart = 0;
    if (!read.value() || !parseTrailer(trailer, storedHash, lastStart) || lastStart < m_headerEnd ||
        lastStart >= size.value())
        return false;
    // An entry's header, and for the last one its meta and data checked against the trailer's hash.
    auto entryAt = [&](std::uint64_t at, bool check) -> Result<std::optional<HistoryEntry>> {
        HistoryEntry entry;
        entry.start = at;
        std::string head;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(96, size.value() - at));
        if (Result<bool> got = readExactly(m_file, at, want, head); !got)
            return got.error();
        std::uint64_t metaLength = 0;
        const std::size_t headerLength = parseHeader(head, entry, metaLength);
        if (headerLength == 0 || metaLength > (1u << 20))
            return std::optional<HistoryEntry>();
        entry.dataAt = at + headerLength + metaLength;
        entry.end = entry.dataAt + entry.dataLength + kTrailerSize;
        if (entry.end > size.value() || entry.end < entry.dataAt)
            return std::optional<HistoryEntry>();
        if (Result<bool> got = readExactly(m_file, at + headerLength, static_cast<std::size_t>(metaLength), entry.meta);
            !got)
            return got.error();
        if (check) {
            Fnv1a hash;
            hash.add(entry.meta);
            std::string data;
            if (Result<bool> got = readExactly(m_file, entry.dataAt, static_cast<std::size_t>(entry.dataLength), data);
                !got)
                return got.error();
            hash.add(data);
            if (hash.value() != storedHash || entry.end != size.value())
                return std::optional<HistoryEntry>();
            entry.hash = storedHash;
            entry.dataChecked = true;
        }
        return std::optional<HistoryEntry>(std::move(entry));
    };
    Result<std::optional<HistoryEntry>> last = entryAt(lastStart, true);
    if (!last)
        return last.error();
    if (!last.value())
        return false;
    if (lastStart != m_headerEnd) {
        Result<std::optional<HistoryEntry>> first = entryAt(m_headerEnd, false);
        if (!first)
            return first.error();
        if (!first.value())
            return false;
        m_entries.push_back(std::move(*first.value()));
    }
    m_entries.push_back(std::move(*last.value()));
    m_entriesEnd = size.value();
    m_whole = m_entries.size() == 1;
    return true;
}

Result<HistoryLog> HistoryLog::openToRead(const std::filesystem::path& target)
{
    const std::filesystem::path path = pathFor(target);
    Result<NativeFile> file = NativeFile::open(path, NativeFile::Access::OwnRead);
    if (!file)
        return file.error();
    HistoryLog log(path, std::move(file.value()));
    const Result<bool> read = log.scan(target);
    if (!read)
        return read.error();
    if (!read.value()) {
        // The next change reads it whole again, and sets it aside.
        const std::lock_guard<std::mutex> hold(readWholeMutex);
        readWhole().erase(pathText(path));
        return FileError{path, kDamaged};
    }
    return log;
}

Result<HistoryLog> HistoryLog::open(const std::filesystem::path& target, std::string& notice, bool whole)
{
    const std::filesystem::path path = pathFor(target);
    if (Status folders = ensureParentFolder(path); !folders)
        return folders.error();
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Anything at the name that is not an ordinary file of the user's is not used; it is kept.
        std::optional<std::string> why;
        const Result<FileIdentity> entry = entryIdentityAt(path);
        Result<std::optional<std::filesystem::path>> link = readLink(path);
        if (entry && (entry.value().isFolder || (link && link.value())))
            why = causeWords(FileError::Cause::NotAnOrdinaryFile);
        std::optional<NativeFile> opened;
        if (!why) {
            Result<NativeFile> file = NativeFile::open(path, NativeFile::Access::Append);
            if (!file) {
                if (entry)
                    why = file.error().reason();
                else
                    return file.error();
            } else {
                const Result<FileIdentity> identity = file.value().identity();
                if (!identity)
                    return identity.error();
                // For the superuser, a history is its list's owner's; without a list, its folder's.
                Result<FileIdentity> owner = identityAt(target);
                if (!owner)
                    owner = identityAt(folderOf(path));
                if (!owner)
                    return owner.error();
                if (!trustedAsOwn(identity.value(), owner.value()))
                    why = kNotOwn;
                else
                    opened.emplace(std::move(file.value()));
            }
        }
        if (opened) {
            HistoryLog log(path, std::move(*opened));
            // Owner-only whatever the umask; a failure here leaves what open made, which is owner-only too.
            std::error_code ignored;
            std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::replace, ignored);
            bool known = false;
            if (!whole) {
                const std::lock_guard<std::mutex> hold(readWholeMutex);
                known = readWhole().count(pathText(path)) > 0;
            }
            Result<bool> read = true;
            if (known) {
                read = log.scanEnds(target);
                if (read && !read.value())
                    read = log.scan(target);
            } else {
                read = log.scan(target);
            }
            if (!read)
                return read.error();
            if (read.value()) {
                if (log.m_whole) {
                    const std::lock_guard<std::mutex> hold(readWholeMutex);
                    readWhole().insert(pathText(path));
                }
                const Result<std::uint64_t> size = log.m_file.size();
                if (!size)
                    return size.error();
                if (log.m_headerEnd == 0) {
                    // New, or its header cut off by a kill: it begins now.
                    if (Status cut = log.m_file.truncate(0); !cut)
                        return cut.error();
                    const std::string header = std::string(kHeaderStart) + pathText(target) + "\n";
                    if (Status written = log.m_file.write(header); !written)
                        return written.error();
                    if (Status synced = log.m_file.sync(); !synced)
                        return synced.error();
                    if (Status synced = syncFolder(folderOf(path)); !synced)
                        return synced.error();
                    log.m_headerEnd = log.m_entriesEnd = header.size();
                } else if (size.value() > log.m_entriesEnd) {
                    if (Status cut = log.m_file.truncate(log.m_entriesEnd); !cut)
                        return cut.error();
                }
                return log;
            }
            why = kDamaged;
        }
        // Set aside under a name of its own, never deleted; a new history begins.
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::filesystem::path aside = path;
        aside += std::string(kSetAsideMarker) +
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
        for (int n = 0;; ++n) {
            std::filesystem::path name = aside;
            if (n > 0)
                name += "-" + std::to_string(n);
            const Status moved = moveToNewName(path, name);
            if (moved) {
                notice = "the list's history " + pathText(path) + " could not be used (" + *why +
                         "); it was set aside as " + pathText(name.filename()) + " and a new one begins";
                break;
            }
            if (moved.error().cause != FileError::Cause::Exists || n > 100)
                return FileError{path,
                                 "its history cannot be used (" + *why + ") nor set aside: " + moved.error().reason()};
        }
    }
    return FileError{path, kDamaged};
}

Status HistoryLog::append(HistoryEntry::Kind kind, std::int64_t time, std::string_view meta, std::uint64_t dataLength,
                          const DataWriter& writeData, bool durable)
{
    // A landing is only the history's last word on the list's stamp: the next entry takes its place, so
    // that a change costs one entry. (Cut away before the entry is written: a kill in between costs the
    // next change a comparison of the list, nothing more.)
    std::uint64_t sequence = m_entries.empty() ? 1 : m_entries.back().sequence + 1;
    if (!m_entries.empty() && m_entries.back().kind == HistoryEntry::Kind::Landed &&
        m_entries.back().end == m_entriesEnd) {
        if (Status cut = m_file.truncate(m_entries.back().start); !cut)
            return cut;
        sequence = m_entries.back().sequence;
        m_entriesEnd = m_entries.back().start;
        m_entries.pop_back();
    }
    HistoryEntry entry;
    entry.kind = kind;
    entry.sequence = sequence;
    entry.time = time;
    entry.meta = std::string(meta);
    entry.start = m_entriesEnd;
    const std::string header = "@" + std::string(1, static_cast<char>(kind)) + " " + std::to_string(entry.sequence) +
                               " " + std::to_string(time) + " " + std::to_string(meta.size()) + " " +
                               std::to_string(dataLength) + "\n";
    entry.dataAt = entry.start + header.size() + meta.size();
    entry.dataLength = dataLength;
    entry.end = entry.dataAt + dataLength + kTrailerSize;

    Fnv1a hash;
    hash.add(meta);
    std::uint64_t written = 0;
    // Small entries go in one write; a snapshot's data streams through in pieces.
    std::string pending = header + std::string(meta);
    auto put = [&](std::string_view bytes) -> Status {
        hash.add(bytes);
        written += bytes.size();
        if (pending.size() + bytes.size() <= (1u << 20)) {
            pending.append(bytes);
            return {};
        }
        if (Status flushed = m_file.write(pending); !flushed)
            return flushed;
        pending.clear();
        return m_file.write(bytes);
    };
    Status done = writeData(put);
    if (done && written != dataLength)
        done = FileError{m_path, "an entry's data was not the length it gave"};
    if (done) {
        pending += "\n~" + hex16(hash.value()) + hex16(entry.start).substr(4) + "\n";
        done = m_file.write(pending);
    }
    if (done && durable)
        done = m_file.sync();
    if (!done) {
        // A full disk leaves the log as it was; what could not be cut back is a torn tail, cut at the
        // next open.
        (void)m_file.truncate(m_entriesEnd);
        return done;
    }
    m_entriesEnd = entry.end;
    m_entries.push_back(std::move(entry));
    return {};
}

Status HistoryLog::append(HistoryEntry::Kind kind, std::int64_t time, std::string_view meta, std::string_view data,
                          bool durable)
{
    return append(
        kind, time, meta, data.size(), [data](const auto& put) { return put(data); }, durable);
}

Status HistoryLog::pruneBefore(const std::filesystem::path& target, std::size_t first, std::int64_t time,
                               const std::string& list, const std::string& meta)
{
    removeLeftoverTemporaries(m_path);
    Result<NativeFile> temporary = createTemporaryBeside(m_path);
    if (!temporary)
        return temporary.error();
    const std::filesystem::path temporaryPath = temporary.value().path();
    HistoryLog fresh(temporaryPath, std::move(temporary.value()));
    const std::string header = std::string(kHeaderStart) + pathText(target) + "\n";
    Status done = fresh.m_file.write(header);
    fresh.m_headerEnd = fresh.m_entriesEnd = header.size();
    if (done)
        done = fresh.append(HistoryEntry::Kind::Snapshot, time, meta, list, false);
    for (std::size_t i = first; done && i < m_entries.size(); ++i) {
        const HistoryEntry& entry = m_entries[i];
        done = fresh.append(
            entry.kind, entry.time, entry.meta, entry.dataLength,
            [&](const auto& put) -> Status {
                // A copy not checked yet is checked as it is copied: a damaged one is never made whole.
                Fnv1a hash;
                hash.add(entry.meta);
                std::string chunk;
                for (std::uint64_t at = 0; at < entry.dataLength;) {
                    const std::uint64_t piece = std::min<std::uint64_t>(1u << 20, entry.dataLength - at);
                    if (Status read = readData(entry, at, piece, chunk); !read)
                        return read;
                    hash.add(chunk);
                    if (Status written = put(chunk); !written)
                        return written;
                    at += piece;
                }
                if (!entry.dataChecked && hash.value() != entry.hash)
                    return FileError{m_path, kDamaged};
                return {};
            },
            false);
    }
    if (done)
        done = fresh.m_file.sync();
    // Closed first: Windows does not put a file that is open in another's place.
    if (done)
        done = fresh.m_file.close();
    if (done)
        done = moveOver(temporaryPath, m_path);
    if (!done) {
        (void)removeFile(temporaryPath);
        return done;
    }
    Result<NativeFile> reopened = NativeFile::open(m_path, NativeFile::Access::Append);
    if (!reopened)
        return reopened.error();
    m_file = std::move(reopened.value());
    const Result<bool> read = scan(target);
    if (!read)
        return read.error();
    return read.value() ? Status() : Status(FileError{m_path, kDamaged});
}

Status HistoryLog::readCopy(const HistoryEntry& entry, std::string& out)
{
    if (Status read = readData(entry, 0, entry.dataLength, out); !read)
        return read;
    if (entry.dataChecked)
        return {};
    Fnv1a hash;
    hash.add(entry.meta);
    hash.add(out);
    return hash.value() == entry.hash ? Status() : Status(FileError{m_path, kDamaged});
}

Status HistoryLog::readData(const HistoryEntry& entry, std::uint64_t offset, std::uint64_t length, std::string& out)
{
    if (offset > entry.dataLength || length > entry.dataLength - offset)
        return FileError{m_path, kDamaged};
    const Result<bool> read = readExactly(m_file, entry.dataAt + offset, static_cast<std::size_t>(length), out);
    if (!read)
        return read.error();
    if (!read.value())
        return FileError{m_path, kDamaged};
    return {};
}

} // namespace tesselby
