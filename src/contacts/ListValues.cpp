#include "ListValues.h"

#include "format/TextEncoding.h"

namespace tesselby {

ListValues::ListValues(std::function<void(const Values&)> found) : m_found(std::move(found)) {}

void ListValues::writtenRecords(const RecordStream::WrittenWindow& window)
{
    std::array<RawItem, kFieldCount> items;
    for (std::size_t record = 0; record < window.records; ++record) {
        ItemScanner scanner(window.record(record), false);
        int count = 0;
        while (count < kFieldCount && scanner.next(items[count]))
            ++count;
        readRecord(items, count, {}, 0, false);
    }
}

void ListValues::readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view, std::uint64_t,
                            bool)
{
    Values values;
    for (int field = 0; field < count; ++field) {
        if (!items[field].doubledQuotes && isValidUtf8(items[field].raw)) {
            values[field] = items[field].raw;
        } else {
            m_decoded[field] = decodeItem(items[field]);
            values[field] = m_decoded[field];
        }
    }
    m_found(values);
}

} // namespace tesselby
