#include "CardDavServer.h"

#include <algorithm>
#include <unordered_set>

namespace tesselby {

namespace {

constexpr char kXmlType[] = "Content-Type: application/xml; charset=utf-8";

constexpr char kPropfindBook[] = R"(<?xml version="1.0" encoding="utf-8"?>
<d:propfind xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">
 <d:prop><d:resourcetype/><d:displayname/><d:current-user-principal/><d:supported-report-set/>
  <c:supported-address-data/></d:prop>
</d:propfind>
)";
constexpr char kPropfindHome[] = R"(<?xml version="1.0" encoding="utf-8"?>
<d:propfind xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">
 <d:prop><c:addressbook-home-set/></d:prop>
</d:propfind>
)";
constexpr char kPropfindEtags[] = R"(<?xml version="1.0" encoding="utf-8"?>
<d:propfind xmlns:d="DAV:"><d:prop><d:resourcetype/><d:getetag/></d:prop></d:propfind>
)";

constexpr char kPropfindDataTypes[] = R"(<?xml version="1.0" encoding="utf-8"?>
<d:propfind xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav"><d:prop><c:supported-address-data/></d:prop></d:propfind>
)";

std::string xmlEscaped(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool isSuccess(int status)
{
    return status >= 200 && status < 300;
}

// RFC 6352: a book that names no version takes 3.0.
std::string newestCardVersion(const std::vector<std::string>& versions)
{
    return std::find(versions.begin(), versions.end(), "4.0") != versions.end() ? "4.0" : "3.0";
}

} // namespace

std::string statusMessage(int status, const std::string& doing)
{
    std::string why = doing + ": the server answered " + std::to_string(status);
    switch (status) {
    case 401:
        return why + " (the user name or the password is wrong)";
    case 403:
        return why + " (the user may not do this)";
    case 404:
        return why + " (nothing is at that address)";
    case 405:
        return why + " (the address does not take this request: is it an address book?)";
    case 409:
        return why + " (a conflict with what is on the server)";
    case 412:
        return why + " (it changed on the server meanwhile)";
    case 415:
        return why + " (the server does not take cards in this form)";
    case 429:
        return why + " (too many requests; it asked to wait longer than the sync does)";
    default:
        if (status >= 500)
            return why + " (the server failed; try again later)";
        return why;
    }
}

bool CardDavServer::multistatus(const std::string& method, const std::string& url, const char* depth,
                                const std::string& body, MultistatusReader& reader, int& status, std::string& why)
{
    HttpRequest request{method, url, {kXmlType}, body, {}};
    if (depth != nullptr)
        request.headers.push_back(std::string("Depth: ") + depth);
    request.onBody = [&reader](std::string_view piece) { return reader.feed(piece); };
    std::optional<HttpResponse> response = m_http.send(request, why);
    if (!response) {
        if (!reader.error().empty())
            why = url + ": " + reader.error();
        else
            why = url + ": " + why;
        return false;
    }
    status = response->status;
    if (status != 207)
        return true;
    if (!reader.finish()) {
        why = url + ": " + reader.error();
        return false;
    }
    return true;
}

std::optional<std::vector<AddressBookFound>> CardDavServer::discover(const std::string& url, std::string& why)
{
    std::vector<AddressBookFound> books;
    std::string principal;
    const std::string urlKey = urlPathKey(url);
    auto readTop = [&](const DavResponse& response) {
        if (response.isAddressBook && (urlPathKey(response.href) == urlKey || books.empty()))
            books.push_back(
                {resolveUrl(url, response.href), response.displayName, newestCardVersion(response.cardVersions)});
        if (!response.currentUserPrincipal.empty())
            principal = resolveUrl(url, response.currentUserPrincipal);
    };
    int status = 0;
    {
        MultistatusReader reader(readTop);
        if (!multistatus("PROPFIND", url, "0", kPropfindBook, reader, status, why))
            return std::nullopt;
    }
    // Refused or failed, the server has said nothing about where the address books are.
    if (status == 401 || status == 403 || status == 429 || status >= 500) {
        why = statusMessage(status, url);
        return std::nullopt;
    }
    if (!books.empty())
        return books;
    if (principal.empty()) {
        // A server's base: its well-known address leads to the principal.
        const std::string wellKnown = resolveUrl(url, "/.well-known/carddav");
        MultistatusReader reader(readTop);
        if (!multistatus("PROPFIND", wellKnown, "0", kPropfindBook, reader, status, why))
            return std::nullopt;
        if (!isSuccess(status) || principal.empty()) {
            why = url + ": neither an address book nor a server that says where the user's address books are";
            return std::nullopt;
        }
    }
    std::string home;
    {
        MultistatusReader reader([&](const DavResponse& response) {
            if (!response.addressBookHomeSet.empty())
                home = resolveUrl(principal, response.addressBookHomeSet);
        });
        if (!multistatus("PROPFIND", principal, "0", kPropfindHome, reader, status, why))
            return std::nullopt;
        if (status != 207 || home.empty()) {
            why = isSuccess(status) || status == 207 ? principal + ": the server names no home for address books"
                                                     : statusMessage(status, principal);
            return std::nullopt;
        }
    }
    MultistatusReader reader([&](const DavResponse& response) {
        if (response.isAddressBook)
            books.push_back(
                {resolveUrl(home, response.href), response.displayName, newestCardVersion(response.cardVersions)});
    });
    if (!multistatus("PROPFIND", home, "1", kPropfindBook, reader, status, why))
        return std::nullopt;
    if (status != 207) {
        why = statusMessage(status, home);
        return std::nullopt;
    }
    return books;
}

bool CardDavServer::listCards(const std::string& book, const std::string& token, std::vector<CardListed>& cards,
                              std::string& newToken, bool& delta, std::string& why)
{
    const std::string bookKey = urlPathKey(book);
    auto take = [&](const DavResponse& response) {
        if (response.isCollection || urlPathKey(resolveUrl(book, response.href)) == bookKey)
            return;
        if (response.status == 404) {
            cards.push_back({response.href, {}, true});
            return;
        }
        if (response.etag || response.status == 0 || isSuccess(response.status))
            cards.push_back({response.href, response.etag.value_or(std::string()), false});
    };
    int status = 0;
    for (const std::string& from : {token, std::string()}) {
        cards.clear();
        MultistatusReader reader(take);
        const std::string body =
            R"(<?xml version="1.0" encoding="utf-8"?>
<d:sync-collection xmlns:d="DAV:"><d:sync-token>)" +
            xmlEscaped(from) +
            R"(</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>
)";
        if (!multistatus("REPORT", book, nullptr, body, reader, status, why))
            return false;
        if (status == 207) {
            newToken = reader.syncToken();
            delta = !from.empty();
            return true;
        }
        // A token the server no longer knows (403 or 409 with valid-sync-token) asks for a whole listing;
        // some servers fail on a token they cannot read (Xandikos answers 500).
        if (from.empty() || !(status == 403 || status == 409 || status == 400 || status == 404 || status >= 500))
            break;
    }
    if (status == 401 || status == 404 || status == 429 || status >= 500) {
        why = statusMessage(status, book);
        return false;
    }
    // No sync-collection: every card's ETag, by PROPFIND.
    cards.clear();
    newToken.clear();
    delta = false;
    MultistatusReader reader(take);
    if (!multistatus("PROPFIND", book, "1", kPropfindEtags, reader, status, why))
        return false;
    if (status != 207) {
        why = statusMessage(status, book);
        return false;
    }
    return true;
}

bool CardDavServer::fetchCards(
    const std::string& book, const std::vector<std::string>& hrefs,
    const std::function<void(const std::string& href, const std::string& etag, const std::string& text)>& onCard,
    std::string& why, std::size_t bookSize)
{
    const bool queried = bookSize > 0 && hrefs.size() > batchSize && hrefs.size() * 2 > bookSize;
    std::vector<std::string> rest;
    if (queried) {
        std::unordered_set<std::string> given;
        // An empty filter matches every card; some servers refuse a query without one.
        constexpr char query[] = R"(<?xml version="1.0" encoding="utf-8"?>
<c:addressbook-query xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">
<d:prop><d:getetag/><c:address-data/></d:prop><c:filter/>
</c:addressbook-query>
)";
        MultistatusReader reader([&](const DavResponse& response) {
            if (!response.addressData)
                return;
            given.insert(urlPathKey(resolveUrl(book, response.href)));
            onCard(response.href, response.etag.value_or(std::string()), *response.addressData);
        });
        int status = 0;
        if (!multistatus("REPORT", book, "1", query, reader, status, why))
            return false;
        // A book that does not take the query gives its cards by multiget.
        for (const std::string& href : hrefs)
            if (!given.contains(urlPathKey(resolveUrl(book, href))))
                rest.push_back(href);
    }
    const std::vector<std::string>& wanted = queried ? rest : hrefs;
    for (std::size_t from = 0; from < wanted.size(); from += batchSize) {
        std::string body = R"(<?xml version="1.0" encoding="utf-8"?>
<c:addressbook-multiget xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">
<d:prop><d:getetag/><c:address-data/></d:prop>
)";
        for (std::size_t i = from; i < std::min(wanted.size(), from + batchSize); ++i)
            body += "<d:href>" + xmlEscaped(wanted[i]) + "</d:href>\n";
        body += "</c:addressbook-multiget>\n";
        MultistatusReader reader([&](const DavResponse& response) {
            if (response.addressData)
                onCard(response.href, response.etag.value_or(std::string()), *response.addressData);
        });
        int status = 0;
        if (!multistatus("REPORT", book, "1", body, reader, status, why))
            return false;
        if (status != 207) {
            why = statusMessage(status, book);
            return false;
        }
    }
    return true;
}

std::optional<std::string> CardDavServer::cardVersion(const std::string& book, std::string& why)
{
    // Depth 0 asks for the book alone; of a server that answers for more, the first that names versions.
    std::string version;
    MultistatusReader reader([&](const DavResponse& response) {
        if (version.empty() && !response.cardVersions.empty())
            version = newestCardVersion(response.cardVersions);
    });
    int status = 0;
    if (!multistatus("PROPFIND", book, "0", kPropfindDataTypes, reader, status, why))
        return std::nullopt;
    if (status != 207) {
        why = statusMessage(status, book);
        return std::nullopt;
    }
    return version.empty() ? std::string("3.0") : version;
}

std::optional<HttpResponse> CardDavServer::getCard(const std::string& url, std::string& why)
{
    // The card whole, however large its photo: a body kept for a message is cut short.
    std::string card;
    HttpRequest request{"GET", url, {}, {}, {}};
    request.onBody = [&card](std::string_view piece) {
        card += piece;
        return true;
    };
    std::optional<HttpResponse> response = m_http.send(request, why);
    if (!response)
        why = url + ": " + why;
    else if (isSuccess(response->status))
        response->body = std::move(card);
    return response;
}

std::optional<HttpResponse> CardDavServer::putCard(const std::string& url, const std::string& text,
                                                   const std::string& ifMatch, bool isNew, std::string& why)
{
    HttpRequest request{"PUT", url, {"Content-Type: text/vcard; charset=utf-8"}, text, {}};
    // A server that gives no ETags leaves a change without its condition.
    if (isNew)
        request.headers.push_back("If-None-Match: *");
    else if (!ifMatch.empty())
        request.headers.push_back("If-Match: " + ifMatch);
    std::optional<HttpResponse> response = m_http.send(request, why);
    if (!response)
        why = url + ": " + why;
    return response;
}

std::optional<HttpResponse> CardDavServer::deleteCard(const std::string& url, const std::string& ifMatch,
                                                      std::string& why)
{
    HttpRequest request{"DELETE", url, {}, {}, {}};
    if (!ifMatch.empty())
        request.headers.push_back("If-Match: " + ifMatch);
    std::optional<HttpResponse> response = m_http.send(request, why);
    if (!response)
        why = url + ": " + why;
    return response;
}

} // namespace tesselby
