// Any bytes read as vCards: no crash, hang or leak; the people read are appended whole (see
// ContactImportCheck.h). The first byte picks the state of the list they are added to.
#include <cstdint>

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
    return 0;
}
