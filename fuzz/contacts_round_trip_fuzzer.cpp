// Any values at all, as the list holds them (UTF-8, older text turned into UTF-8 as every read does),
// exported as CSV, vCard 3.0 or 4.0 and imported again: the same people, nothing reported. vCard
// carries line breaks as \n, which comes back as the program's CR LF.
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "ContactImport.h"
#include "ContactWriter.h"
#include "format/TextEncoding.h"

using namespace tesselby;

namespace {

std::string asListValue(const std::string& bytes)
{
    if (isValidUtf8(bytes))
        return bytes;
    std::string text;
    appendWindows1252AsUtf8(text, bytes);
    return text;
}

std::string withCrLfBreaks(const std::string& value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            out += "\r\n";
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider provider(data, size);
    const int format = provider.ConsumeIntegralInRange(0, 2);
    std::vector<Record> records;
    while (provider.remaining_bytes() > 0) {
        Record record;
        for (std::string& value : record)
            value = asListValue(provider.ConsumeRandomLengthString());
        records.push_back(record);
    }
    std::string out;
    if (format == 0)
        appendCsvHeader(out);
    for (Record& record : records) {
        if (format == 0) {
            appendCsvRow(out, record);
            continue;
        }
        appendVCard(out, record, format == 1 ? VCardVersion::V30 : VCardVersion::V40);
        for (std::string& value : record)
            value = withCrLfBreaks(value);
    }
    const ContactsRead read = readContacts(out);
    if (!read.problems.empty() || read.records != records)
        std::abort();
    return 0;
}
