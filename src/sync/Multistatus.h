#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesselby {

// One <response> of a WebDAV multistatus answer (a PROPFIND's or a REPORT's), with the properties the
// sync asks for. Only the properties of a propstat whose status is 2xx are filled in.
struct DavResponse {
    std::string href;
    // The status of the response itself (a removed card in a sync-collection answer is 404); 0 when it
    // has none, only propstats.
    int status = 0;
    std::optional<std::string> etag;
    std::optional<std::string> addressData;
    std::string displayName;
    bool isCollection = false;
    bool isAddressBook = false;
    // The href inside current-user-principal and addressbook-home-set, when asked for.
    std::string currentUserPrincipal;
    std::string addressBookHomeSet;
    bool offersSyncCollection = false; // supported-report-set lists sync-collection
    // The vCard versions an address book's supported-address-data names ("3.0", "4.0").
    std::vector<std::string> cardVersions;
};

// Reads a multistatus answer as it arrives, piece by piece, handing each response over as soon as it
// is complete; namespaces are matched by their names, whatever prefixes the server chose (D:, d:, ns0:
// or none). Memory holds one response at a time, each text at most kLongestText bytes.
//
// Calling sequence: construct with the handler, feed() every piece, then finish(); after a false from
// either, error() says why and nothing more is read.
class MultistatusReader {
public:
    static constexpr std::size_t kLongestText = std::size_t(64) << 20;

    explicit MultistatusReader(std::function<void(const DavResponse&)> onResponse);
    ~MultistatusReader();
    MultistatusReader(const MultistatusReader&) = delete;
    MultistatusReader& operator=(const MultistatusReader&) = delete;

    bool feed(std::string_view piece);
    bool finish();

    const std::string& error() const { return m_error; }
    // The multistatus's own sync-token (a sync-collection answer's), empty when it has none.
    const std::string& syncToken() const { return m_syncToken; }
    std::size_t responseCount() const { return m_responses; }

    class State;

private:
    std::unique_ptr<State> m_state;
    std::string m_error;
    std::string m_syncToken;
    std::size_t m_responses = 0;
    bool m_failed = false;
};

// The number in an HTTP status line ("HTTP/1.1 404 Not Found" is 404); 0 when there is none.
int statusLineCode(std::string_view line);

} // namespace tesselby
