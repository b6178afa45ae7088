// Any values at all (quotes, commas, CR, LF, NUL, invalid UTF-8, very long), written as items, read back
// identical: the same number of items, each with the same bytes when they were valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "format/ItemScanner.h"
#include "format/ItemWriter.h"
#include "format/TextEncoding.h"

using namespace tesselby;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider provider(data, size);
    std::vector<std::string> values;
    while (provider.remaining_bytes() > 0)
        values.push_back(provider.ConsumeRandomLengthString());

    std::string text;
    for (const std::string& value : values)
        appendItem(text, value);

    ItemScanner scanner(text);
    RawItem item;
    std::size_t index = 0;
    while (scanner.next(item)) {
        if (index >= values.size())
            std::abort();
        const std::string& value = values[index++];
        // Older single-byte text is read as Windows-1252, so only UTF-8 comes back byte for byte;
        // the raw bytes always do.
        std::string raw;
        appendItemAsRead(raw, item);
        std::string written;
        appendItem(written, value);
        if (raw != written)
            std::abort();
        if (isValidUtf8(value) && decodeItem(item) != value)
            std::abort();
    }
    if (index != values.size())
        std::abort();
    return 0;
}
