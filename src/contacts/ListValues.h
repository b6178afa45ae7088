#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "records/Record.h"
#include "records/RecordStream.h"

namespace tesselby {

// Hands each record of a list streaming through a RecordStream to a callback, its values as the screens
// read them (UTF-8, an older Windows-1252 item turned into it); a trailing incomplete record's missing
// values are empty. The views last until the callback returns.
class ListValues : public RecordStream::Visitor {
public:
    using Values = PerField<std::string_view>;

    explicit ListValues(std::function<void(const Values&)> found);

    void writtenRecords(const RecordStream::WrittenWindow& window) override;
    void readRecord(const std::array<RawItem, kFieldCount>& items, int count, std::string_view bytes,
                    std::uint64_t offset, bool afterComma) override;

private:
    std::function<void(const Values&)> m_found;
    std::array<std::string, kFieldCount> m_decoded;
};

} // namespace tesselby
