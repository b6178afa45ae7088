// Any bytes read as a server's multistatus answer: no crash, hang or leak, and the same responses, or
// the same failure, whether the answer arrives whole or in pieces of any size (the first byte's).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Multistatus.h"

using namespace tesselby;

namespace {

struct Read {
    std::vector<std::string> seen;
    bool ok = true;
    std::string token;
};

Read readIn(std::string_view bytes, std::size_t piece)
{
    Read read;
    MultistatusReader reader([&read](const DavResponse& response) {
        read.seen.push_back(response.href + '|' + std::to_string(response.status) + '|' + response.etag.value_or("-") +
                            '|' + response.addressData.value_or("-") + '|' + (response.isAddressBook ? "book" : "") +
                            response.addressBookHomeSet + response.currentUserPrincipal);
        for (const std::string& version : response.cardVersions)
            read.seen.back() += '|' + version;
    });
    for (std::size_t at = 0; at < bytes.size() && read.ok; at += piece)
        read.ok = reader.feed(bytes.substr(at, piece));
    if (read.ok)
        read.ok = reader.finish();
    if (read.ok != reader.error().empty())
        std::abort();
    read.token = reader.syncToken();
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Read whole = readIn(bytes, bytes.size() + 1);
    const Read pieces = readIn(bytes, std::size_t(1) + data[0] % 13);
    if (whole.ok != pieces.ok)
        std::abort();
    if (whole.ok && (whole.seen != pieces.seen || whole.token != pieces.token))
        std::abort();
    return 0;
}
