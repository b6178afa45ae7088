#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tesselby {

// What a look over a list's text found: how many records, and each kind of item the program itself
// never writes, with how often and the line (from 1) of the first.
enum class ListFindingKind {
    ByteOrderMark,
    Unquoted,
    SeveralOnALine,
    OtherLineEnd,
    OpenQuote,
    NoFinalLineEnd,
    SingleByte,
    TooLong,
};
inline constexpr int kListFindingKinds = 8;
const char* describe(ListFindingKind kind);

struct ListFinding {
    ListFindingKind kind;
    std::size_t count = 0;
    std::size_t firstLine = 0;
};

struct ListReport {
    std::size_t records = 0;
    std::size_t itemsInLastRecord = 0; // 0 when the last record is whole
    std::size_t lastRecordLine = 0;
    std::vector<ListFinding> findings; // only kinds found, in a fixed order

    bool clean() const { return itemsInLastRecord == 0 && findings.empty(); }
};

ListReport checkList(std::string_view text);

} // namespace tesselby
