#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "Multistatus.h"

namespace tesselby {

// An address book found on a server.
struct AddressBookFound {
    std::string url;
    std::string name;
    std::string cardVersion; // as cardVersion() gives it
};

// A card as a listing gives it: its href and ETag, or that it was removed (a sync-collection's 404).
struct CardListed {
    std::string href;
    std::string etag;
    bool removed = false;
};

// The CardDAV requests the sync makes, each read as a stream. Every failure is one message in why.
class CardDavServer {
public:
    explicit CardDavServer(HttpClient& http) : m_http(http) {}

    // The address book at url, or the server's address books found from url (its well-known address,
    // the user's principal, its address-book home). One found is the address book itself.
    std::optional<std::vector<AddressBookFound>> discover(const std::string& url, std::string& why);

    // Every card of the book, or what changed since token (when the book offers sync-collection and the
    // token is not empty); newToken is the book's token now (empty when it offers none). delta is false
    // when the listing is whole.
    bool listCards(const std::string& book, const std::string& token, std::vector<CardListed>& cards,
                   std::string& newToken, bool& delta, std::string& why);

    // The cards at hrefs, with their ETags and text, in batches; onCard is given each one found. When
    // they are most of the book's bookSize cards (a first sync), the whole book comes in one
    // addressbook-query first, and only what it did not give by multiget: some servers look up each href
    // of a multiget by going over the whole book.
    bool fetchCards(
        const std::string& book, const std::vector<std::string>& hrefs,
        const std::function<void(const std::string& href, const std::string& etag, const std::string& text)>& onCard,
        std::string& why, std::size_t bookSize = 0);

    // The vCard version new cards are written in: "4.0" when the book's supported-address-data names it,
    // else "3.0" (also when it names nothing); nothing when the server gave no such answer.
    std::optional<std::string> cardVersion(const std::string& book, std::string& why);

    // One card now: its text and ETag; nothing with status 404 when it is gone.
    std::optional<HttpResponse> getCard(const std::string& url, std::string& why);
    // Writes a card: new (If-None-Match: *) when etag is empty, else only over that ETag (If-Match).
    std::optional<HttpResponse> putCard(const std::string& url, const std::string& text, const std::string& ifMatch,
                                        bool isNew, std::string& why);
    std::optional<HttpResponse> deleteCard(const std::string& url, const std::string& ifMatch, std::string& why);

    std::size_t batchSize = 100;

private:
    bool multistatus(const std::string& method, const std::string& url, const char* depth, const std::string& body,
                     MultistatusReader& reader, int& status, std::string& why);

    HttpClient& m_http;
};

// Words for an HTTP status the sync cannot go on from.
std::string statusMessage(int status, const std::string& doing);

} // namespace tesselby
