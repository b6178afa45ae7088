// The streaming search against the item-by-item reading it stands in for, on any bytes and any text:
// the same records, in the same order, whatever size the reads come in.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "format/ItemScanner.h"
#include "records/RecordSearch.h"

using namespace tesselby;

namespace {

// Every whole record whose field holds the text, read one item at a time.
std::vector<Record> searchedItemByItem(std::string_view text, Field field, std::string_view needle)
{
    std::vector<Record> found;
    ItemScanner scanner(text);
    std::array<RawItem, kFieldCount> items;
    int filled = 0;
    while (scanner.next(items[filled])) {
        if (++filled < kFieldCount)
            continue;
        filled = 0;
        const std::string value = decodeItem(items[fieldIndex(field)]);
        if (value.empty() || value.find(needle) == std::string::npos)
            continue;
        Record& record = found.emplace_back();
        for (int f = 0; f < kFieldCount; ++f)
            record[f] = decodeItem(items[f]);
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // The first bytes choose the field, the size of each read and the text's length; the text is taken
    // from what follows, so that it often stands in the list.
    const Field field = kFields[data[0] % kFieldCount];
    const std::size_t chunk = data[1] < 128 ? 1 + data[1] % 64 : RecordSearch::kDefaultChunkBytes;
    const std::size_t needleBytes = data[2] % 8;
    const std::string_view list(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::string_view needle = list.substr(list.size() / 2, needleBytes);

    const std::vector<Record> expected = searchedItemByItem(list, field, needle);
    const MatchList found = searchText(list, field, needle, chunk);
    if (found.size() != expected.size())
        std::abort();
    for (std::size_t m = 0; m < expected.size(); ++m) {
        if (found.record(m) != expected[m])
            std::abort();
    }
    return 0;
}
