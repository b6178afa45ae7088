// Any bytes read as vCards: no crash, hang or leak; the people read are appended whole (see
// ContactImportCheck.h). The first byte picks the state of the list they are added to, and the size of
// the pieces the same bytes are read in once more, as a file is, which must read the same.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "ContactImport.h"
#include "ContactImportCheck.h"
#include "TextDecoding.h"

using namespace tesselby;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const DecodedText decoded = decodeFileText(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    checkImport(readVCardContacts(decoded.text, decoded.broken), data[0]);

    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const ContactsRead whole = readContacts(bytes);
    std::size_t at = 0;
    const Result<ContactsRead> pieces = readContacts(
        [&](char* into, std::size_t room) -> Result<std::size_t> {
            const std::size_t taken = std::min({room, std::size_t(1) + data[0] % 7, bytes.size() - at});
            bytes.copy(into, taken, at);
            at += taken;
            return taken;
        },
        std::size_t(4) + data[0] % 61);
    // Read from any place, as a file of a known size is: a long one in two halves at once.
    const Result<ContactsRead> placed = readContacts(
        [&](std::uint64_t offset, char* into, std::size_t room) -> Result<std::size_t> {
            if (offset >= bytes.size())
                return std::size_t(0);
            return bytes.copy(into, std::min(room, std::size_t(1) + data[0] % 7), static_cast<std::size_t>(offset));
        },
        std::size_t(4) + data[0] % 61, bytes.size());
    for (const Result<ContactsRead>* read : {&pieces, &placed}) {
        if (!*read || read->value().records != whole.records ||
            read->value().problems.size() != whole.problems.size() ||
            read->value().dropped.counts != whole.dropped.counts)
            std::abort();
        for (std::size_t i = 0; i < whole.problems.size(); ++i)
            if (read->value().problems[i].line != whole.problems[i].line ||
                read->value().problems[i].message != whole.problems[i].message)
                std::abort();
    }
    return 0;
}
