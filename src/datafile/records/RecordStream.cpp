#include "records/RecordStream.h"

#include <algorithm>
#include <cstring>

#include "format/TextEncoding.h"

namespace tesselby {

namespace {

// Written records are looked at this much at a time, so that where they end stays in the cache.
constexpr std::size_t kWindowBytes = 256 * 1024;

} // namespace

struct RecordStream::Pass {
    // Takes the whole records at the start of bytes and says how many bytes they took; the last bytes
    // of the list are taken whole.
    std::size_t take(std::string_view bytes, std::uint64_t offset, bool last);
    // Takes the records at the start of bytes that stand as the program writes them; 0 when none do.
    std::size_t takeWrittenRecords(std::string_view bytes, std::uint64_t offset);

    Visitor& visitor;
    std::vector<std::uint32_t>& recordEnds;
    std::vector<std::uint32_t>& marked;
    const WalkOptions& options;
    bool afterComma = false;
};

std::size_t RecordStream::Pass::take(std::string_view bytes, std::uint64_t offset, bool last)
{
    std::size_t at = 0;
    // After a comma, even the end of the list holds an item: an empty one.
    while (at < bytes.size() || (last && afterComma)) {
        if (const std::size_t took = takeWrittenRecords(bytes.substr(at), offset + at); took != 0) {
            at += took;
            afterComma = false;
            continue;
        }
        ItemScanner scanner(bytes.substr(at), false, afterComma);
        std::array<RawItem, kFieldCount> items;
        int count = 0;
        while (count < kFieldCount && scanner.next(items[count]))
            ++count;
        // A record that reaches the end of what was read may go on in the next read.
        if (!last && scanner.offset() == bytes.size() - at)
            return at;
        afterComma = scanner.afterComma();
        if (count != 0)
            visitor.readRecord(items, count, bytes.substr(at, scanner.offset()), offset + at, afterComma);
        at += scanner.offset();
        if (count < kFieldCount)
            return bytes.size();
    }
    return at;
}

std::size_t RecordStream::Pass::takeWrittenRecords(std::string_view bytes, std::uint64_t offset)
{
    std::string_view window = bytes.substr(0, kWindowBytes);
    if (options.writtenOnlyInUtf8)
        window = window.substr(0, validUtf8Prefix(window));
    const std::size_t room = writtenRecordsRoom(window.size());
    if (recordEnds.size() < room)
        recordEnds.resize(room);
    WrittenWindow written{window, recordEnds.data(), 0, offset, nullptr, 0};
    WrittenPrefix records;
    if (options.mark) {
        if (marked.size() < room)
            marked.resize(room);
        records = scanWrittenRecords(window, recordEnds.data(), *options.mark, marked.data(), written.markedCount);
        written.marked = marked.data();
    } else {
        records = scanWrittenRecords(window, recordEnds.data());
    }
    if (records.count == 0)
        return 0;
    written.records = records.count;
    written.bytes = window.substr(0, records.bytes);
    visitor.writtenRecords(written);
    return records.bytes;
}

RecordStream::RecordStream(std::size_t chunkBytes) : m_chunkBytes(std::max<std::size_t>(chunkBytes, 1)) {}

Result<bool> RecordStream::walk(const ByteSource& source, Visitor& visitor, const WalkOptions& options)
{
    Pass pass{visitor, m_recordEnds, m_marked, options};
    m_buffer.resize(m_chunkBytes);
    std::size_t used = 0;
    std::uint64_t offset = 0; // of the buffer's first byte in the list
    bool atFileStart = true;
    bool byteOrderMark = false;
    for (;;) {
        // A record longer than the buffer makes it grow until the record fits.
        if (used == m_buffer.size())
            m_buffer.resize(m_buffer.size() * 2);
        const Result<std::size_t> got = source(m_buffer.data() + used, m_buffer.size() - used);
        if (!got)
            return got.error();
        const bool last = got.value() == 0;
        used += got.value();
        std::size_t start = 0;
        if (atFileStart) {
            if (used < kByteOrderMark.size() && !last)
                continue;
            atFileStart = false;
            byteOrderMark = m_buffer.view().substr(0, used).starts_with(kByteOrderMark);
            start = byteOrderMark ? kByteOrderMark.size() : 0;
        }
        const std::size_t took =
            pass.take(std::string_view(m_buffer.data() + start, used - start), offset + start, last);
        if (last)
            break;
        const std::size_t rest = used - start - took;
        std::memmove(m_buffer.data(), m_buffer.data() + start + took, rest);
        offset += start + took;
        used = rest;
    }
    if (m_buffer.size() > m_chunkBytes) {
        m_buffer.resize(m_chunkBytes);
        m_buffer.releaseUnused();
    }
    return byteOrderMark;
}

ByteSource sourceOf(std::string_view text)
{
    return [text](char* into, std::size_t room) mutable -> Result<std::size_t> {
        const std::size_t part = std::min(room, text.size());
        if (part != 0)
            std::memcpy(into, text.data(), part);
        text.remove_prefix(part);
        return part;
    };
}

} // namespace tesselby
