// The sync's parts that need no server: reading multistatus answers, planning a sync, changing a card's
// text, and the state file.
#include <doctest/doctest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "CardText.h"
#include "Multistatus.h"
#include "ProgressLine.h"
#include "SyncPlan.h"
#include "SyncState.h"

using namespace tesselby;

namespace {

std::vector<DavResponse> readAnswer(std::string_view xml, std::size_t piece, std::string& token, std::string& error)
{
    std::vector<DavResponse> responses;
    MultistatusReader reader([&](const DavResponse& response) { responses.push_back(response); });
    bool ok = true;
    for (std::size_t at = 0; at < xml.size() && ok; at += piece)
        ok = reader.feed(xml.substr(at, piece));
    if (ok)
        ok = reader.finish();
    error = ok ? std::string() : reader.error();
    token = reader.syncToken();
    return responses;
}

} // namespace

TEST_CASE("multistatus answers are read whatever the prefixes and however the pieces fall")
{
    const struct {
        const char* name;
        std::string xml;
        std::size_t responses;
        std::string href, etag, data, token, error;
        int status = 0;
    } cases[] = {
        {"D: prefixes, as most servers write",
         R"(<?xml version="1.0"?><D:multistatus xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">
<D:response><D:href>/a/1.vcf</D:href><D:propstat><D:prop><D:getetag>"e1"</D:getetag>
<C:address-data>BEGIN:VCARD&#13;
END:VCARD</C:address-data></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:sync-token>tok-1</D:sync-token></D:multistatus>)",
         1, "/a/1.vcf", "\"e1\"", "BEGIN:VCARD\r\nEND:VCARD", "tok-1", ""},
        {"ns0: and lower case d:, mixed in one answer",
         R"(<ns0:multistatus xmlns:ns0="DAV:" xmlns:ns1="urn:ietf:params:xml:ns:carddav"><ns0:response>
<d:href xmlns:d="DAV:"> /a/2.vcf </d:href><ns0:propstat><ns0:prop><ns0:getetag>W/"x"</ns0:getetag>
<ns1:address-data>card</ns1:address-data></ns0:prop></ns0:propstat></ns0:response></ns0:multistatus>)",
         1, "/a/2.vcf", "W/\"x\"", "card", "", ""},
        {"a default namespace and no prefix at all",
         R"(<multistatus xmlns="DAV:"><response><href>/a/3.vcf</href><propstat><prop><getetag>"3"</getetag>
</prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>)",
         1, "/a/3.vcf", "\"3\"", "", "", ""},
        {"a propstat that was not found gives nothing",
         R"(<D:multistatus xmlns:D="DAV:"><D:response><D:href>/a/4.vcf</D:href><D:propstat><D:prop>
<D:getetag>"wrong"</D:getetag></D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>
</D:response></D:multistatus>)",
         1, "/a/4.vcf", "", "", "", ""},
        {"a removed card in a sync-collection answer",
         R"(<D:multistatus xmlns:D="DAV:"><D:response><D:href>/a/5.vcf</D:href>
<D:status>HTTP/1.1 404 Not Found</D:status></D:response><D:sync-token>t2</D:sync-token></D:multistatus>)",
         1, "/a/5.vcf", "", "", "t2", "", 404},
        {"the same names in another namespace are not DAV's",
         R"(<D:multistatus xmlns:D="DAV:" xmlns:X="urn:other"><D:response><X:href>/evil</X:href>
<D:href>/a/6.vcf</D:href></D:response></D:multistatus>)",
         1, "/a/6.vcf", "", "", "", ""},
        {"an empty root element that is not a multistatus", "<D:prop xmlns:D=\"DAV:\"/>", 0, "", "", "", "",
         "the server's answer is not a multistatus"},
        {"an answer that is not a multistatus", R"(<html><body>Login</body></html>)", 0, "", "", "", "",
         "the server's answer is not a multistatus"},
        {"an answer cut off mid-way", R"(<D:multistatus xmlns:D="DAV:"><D:response><D:href>/a)", 0, "", "", "", "",
         "the server's answer is not well-formed XML (line 1)"},
        {"a document type, which could carry entity tricks",
         R"(<!DOCTYPE m [<!ENTITY a "aaaa">]><D:multistatus xmlns:D="DAV:"/>)", 0, "", "", "", "",
         "the server's answer declares a document type, which no answer needs"},
        {"an empty answer", "", 0, "", "", "", "",
         "the server's answer is not well-formed XML (line 1): no element found"},
    };
    for (const auto& row : cases) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(1) << 20}) {
            CAPTURE(std::string(row.name));
            CAPTURE(piece);
            std::string token, error;
            const std::vector<DavResponse> responses = readAnswer(row.xml, piece, token, error);
            CAPTURE(error);
            CHECK(error.starts_with(row.error));
            CHECK(error.empty() == row.error.empty());
            if (!row.error.empty())
                continue;
            REQUIRE(responses.size() == row.responses);
            CHECK(responses[0].href == row.href);
            CHECK(responses[0].etag.value_or("") == row.etag);
            CHECK(responses[0].addressData.value_or("") == row.data);
            CHECK(responses[0].status == row.status);
            CHECK(token == row.token);
        }
    }
}

TEST_CASE("discovery's properties are read from their propstats")
{
    std::string token, error;
    const std::vector<DavResponse> responses = readAnswer(
        R"(<d:multistatus xmlns:d="DAV:" xmlns:card="urn:ietf:params:xml:ns:carddav">
<d:response><d:href>/u/</d:href><d:propstat><d:prop><d:current-user-principal><d:href>/p/u/</d:href>
</d:current-user-principal><card:addressbook-home-set><d:href>/h/u/</d:href></card:addressbook-home-set>
</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>
<d:response><d:href>/h/u/book/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/><card:addressbook/>
</d:resourcetype><d:displayname>Family</d:displayname><d:supported-report-set><d:supported-report><d:report>
<d:sync-collection/></d:report></d:supported-report></d:supported-report-set><card:supported-address-data>
<card:address-data-type content-type="text/vcard" version="3.0"/><card:address-data-type version="4.0"/>
<card:address-data-type content-type="application/vcard+json" version="4.1"/></card:supported-address-data>
</d:prop></d:propstat></d:response>
<d:response><d:href>/h/u/other/</d:href><d:propstat><d:prop><card:supported-address-data>
<card:content-type content-type="text/vcard" version="3.0"/></card:supported-address-data></d:prop></d:propstat>
<d:propstat><d:prop><card:supported-address-data><card:address-data-type version="4.0"/>
</card:supported-address-data></d:prop><d:status>HTTP/1.1 404 Not Found</d:status></d:propstat></d:response>
</d:multistatus>)",
        3, token, error);
    REQUIRE(error.empty());
    REQUIRE(responses.size() == 3);
    CHECK(responses[0].currentUserPrincipal == "/p/u/");
    CHECK(responses[0].addressBookHomeSet == "/h/u/");
    CHECK(!responses[0].isAddressBook);
    CHECK(responses[1].isAddressBook);
    CHECK(responses[1].isCollection);
    CHECK(responses[1].displayName == "Family");
    CHECK(responses[1].offersSyncCollection);
    // The versions of text/vcard a book takes, also as a server names them with content-type elements.
    CHECK(responses[0].cardVersions.empty());
    CHECK(responses[1].cardVersions == std::vector<std::string>{"3.0", "4.0"});
    CHECK(responses[2].cardVersions == std::vector<std::string>{"3.0"});
}

namespace {

RemoteCard card(std::string href, std::string etag, std::optional<Record> values = std::nullopt)
{
    return RemoteCard{std::move(href), std::move(etag), {}, std::move(values), false};
}

std::string actions(const SyncPlan& plan)
{
    // Each pair as "L<local action>R<remote action>", conflicts as "C".
    std::string out;
    for (const SyncPair& pair : plan.pairs) {
        if (!out.empty())
            out += ' ';
        if (!pair.conflicts.empty()) {
            out += 'C';
            continue;
        }
        out += "L";
        out += "kcra"[static_cast<int>(pair.localAction)];
        out += "R";
        out += "kcrn"[static_cast<int>(pair.remoteAction)];
    }
    return out;
}

} // namespace

TEST_CASE("a sync moves what changed on each side, links equal people and keeps what both changed")
{
    const Record ann{"Ann", "Smith", "555-1", "ann@x.org"};
    const Record annMoved{"Ann", "Smith", "555-9", "ann@x.org"};
    const Record annRenamed{"Ann", "Smythe", "555-1", "ann@x.org"};
    const Record annBoth{"Ann", "Smythe", "555-9", "ann@x.org"};
    const Record annOther{"Ann", "Smith", "555-7", "ann@x.org"};
    const Record bob{"Bob", "Jones", "555-2", ""};
    const CardLink annLink{"/b/a.vcf", "e1", "a", ann};
    const CardLink bobLink{"/b/b.vcf", "e2", "b", bob};
    const struct {
        const char* name;
        std::vector<CardLink> links;
        std::vector<Record> local;
        std::vector<RemoteCard> remote;
        ConflictChoice choice;
        std::string expected;
        std::optional<Record> firstValues = std::nullopt;
        // --conflict ask: what was answered for each person left with a conflict.
        std::optional<ConflictChoice> answer = std::nullopt;
    } cases[] = {
        {"first sync into an empty book", {}, {ann, bob}, {}, ConflictChoice::Keep, "LkRn LkRn"},
        {"first sync into an empty list", {}, {}, {card("/b/a.vcf", "e1", ann)}, ConflictChoice::Keep, "LaRk"},
        {"first sync with equal people on both sides links them",
         {},
         {ann, bob},
         {card("/b/x.vcf", "e", bob), card("/b/y.vcf", "e", ann)},
         ConflictChoice::Keep,
         "LkRk LkRk"},
        {"first sync with a true duplicate in the list links one and sends the other",
         {},
         {ann, ann},
         {card("/b/y.vcf", "e", ann)},
         ConflictChoice::Keep,
         "LkRk LkRn"},
        {"a card read back with CR LF where the person holds a bare line break is linked, not doubled",
         {},
         {Record{"Ann", "Smith", "", "line\none"}},
         {card("/b/y.vcf", "e", Record{"Ann", "Smith", "", "line\r\none"})},
         ConflictChoice::Keep,
         "LcRk",
         Record{"Ann", "Smith", "", "line\r\none"}},
        {"nothing changed",
         {annLink, bobLink},
         {bob, ann},
         {card("/b/a.vcf", "e1"), card("/b/b.vcf", "e2")},
         ConflictChoice::Keep,
         "LkRk LkRk"},
        {"a server that rewrote a card without changing its values",
         {annLink},
         {ann},
         {card("/b/a.vcf", "e-new", ann)},
         ConflictChoice::Keep,
         "LkRk"},
        {"changed here", {annLink}, {annMoved}, {card("/b/a.vcf", "e1")}, ConflictChoice::Keep, "LkRc", annMoved},
        {"changed on the server",
         {annLink},
         {ann},
         {card("/b/a.vcf", "e9", annMoved)},
         ConflictChoice::Keep,
         "LcRk",
         annMoved},
        {"changed on both sides in different fields: both kept",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annRenamed)},
         ConflictChoice::Keep,
         "LcRc",
         annBoth},
        {"changed on both sides to the same values",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annMoved)},
         ConflictChoice::Keep,
         "LkRk",
         annMoved},
        {"the same field changed to different values: kept as it is",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annOther)},
         ConflictChoice::Keep,
         "C",
         ann},
        {"the same field, settled for this side",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annOther)},
         ConflictChoice::Local,
         "LkRc",
         annMoved},
        {"the same field, settled for the server",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annOther)},
         ConflictChoice::Remote,
         "LcRk",
         annOther},
        {"the same field, asked and not yet answered",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annOther)},
         ConflictChoice::Ask,
         "C",
         ann},
        {"the same field, answered for this side; the server's change of another field comes in too",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", Record{"Ann", "Smythe", "555-7", "ann@x.org"})},
         ConflictChoice::Ask,
         "LcRc",
         annBoth,
         ConflictChoice::Local},
        {"the same field, answered for the server",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annOther)},
         ConflictChoice::Ask,
         "LcRk",
         annOther,
         ConflictChoice::Remote},
        {"the same field, answered to leave it as it is",
         {annLink},
         {annMoved},
         {card("/b/a.vcf", "e9", annOther)},
         ConflictChoice::Ask,
         "C",
         ann,
         ConflictChoice::Keep},
        {"removed here",
         {annLink, bobLink},
         {bob},
         {card("/b/a.vcf", "e1"), card("/b/b.vcf", "e2")},
         ConflictChoice::Keep,
         "LkRr LkRk"},
        {"removed on the server",
         {annLink, bobLink},
         {ann, bob},
         {card("/b/b.vcf", "e2")},
         ConflictChoice::Keep,
         "LrRk LkRk"},
        {"removed here but changed on the server: sent back",
         {annLink},
         {},
         {card("/b/a.vcf", "e9", annMoved)},
         ConflictChoice::Keep,
         "LaRk",
         annMoved},
        {"removed on the server but changed here: sent back",
         {annLink},
         {annMoved},
         {},
         ConflictChoice::Keep,
         "LkRn",
         annMoved},
        {"removed on both sides", {annLink}, {}, {}, ConflictChoice::Keep, "LkRk"},
        {"a duplicate added here beside a linked person",
         {annLink},
         {ann, ann},
         {card("/b/a.vcf", "e1")},
         ConflictChoice::Keep,
         "LkRk LkRn"},
        {"one of two linked duplicates removed here",
         {annLink, CardLink{"/b/a2.vcf", "e3", "a2", ann}},
         {ann},
         {card("/b/a.vcf", "e1"), card("/b/a2.vcf", "e3")},
         ConflictChoice::Keep,
         "LkRk LkRr"},
        {"a person holding only a name, renamed here: a change, not a removal and a new card",
         {CardLink{"/b/n.vcf", "e5", "n", {"Nina", "Card", "", ""}}, annLink},
         {ann, Record{"Nina", "Kard", "", ""}},
         {card("/b/n.vcf", "e5"), card("/b/a.vcf", "e1")},
         ConflictChoice::Keep,
         "LkRc LkRk",
         Record{"Nina", "Kard", "", ""}},
        {"a name and a phone, one changed here: still their card's",
         {CardLink{"/b/c.vcf", "e6", "c", {"Carl", "", "555-3", ""}}},
         {Record{"Carl", "", "555-4", ""}},
         {card("/b/c.vcf", "e6")},
         ConflictChoice::Keep,
         "LkRc",
         Record{"Carl", "", "555-4", ""}},
        {"a person removed here and a relative added sharing only the surname: a removal and a new card",
         {annLink},
         {Record{"Bob", "Smith", "555-7", "bob@y.org"}},
         {card("/b/a.vcf", "e1")},
         ConflictChoice::Keep,
         "LkRr LkRn"},
        {"a name shared with two people removed here: neither taken for the new one",
         {CardLink{"/b/n.vcf", "e5", "n", {"Ann", "Card", "", ""}},
          CardLink{"/b/m.vcf", "e7", "m", {"Ann", "Lee", "", ""}}},
         {Record{"Ann", "Ray", "", ""}},
         {card("/b/n.vcf", "e5"), card("/b/m.vcf", "e7")},
         ConflictChoice::Keep,
         "LkRr LkRr LkRn"},
        {"an unreadable card is left alone with its person",
         {annLink},
         {annMoved},
         {RemoteCard{"/b/a.vcf", "e9", {}, std::nullopt, true}},
         ConflictChoice::Keep,
         "LkRk"},
    };
    for (const auto& row : cases) {
        CAPTURE(std::string(row.name));
        SyncPlan plan = planSync(row.links, row.local, row.remote, row.choice);
        if (row.answer)
            for (SyncPair& pair : plan.pairs)
                settleConflict(plan, pair, *row.answer);
        CHECK(actions(plan) == row.expected);
        CHECK(plan.conflicts == static_cast<std::size_t>(std::count(row.expected.begin(), row.expected.end(), 'C')));
        // A person asked about keeps the ETag their card was read with, so that its write is conditional.
        if (row.choice == ConflictChoice::Ask)
            CHECK(plan.pairs.front().etag == row.remote.front().etag);
        if (row.firstValues)
            CHECK(plan.pairs.front().values == *row.firstValues);
    }
}

TEST_CASE("a sync that would remove more than half of a side is told apart")
{
    SyncPlan plan;
    plan.localRemovals = 2;
    CHECK(!removesMostOf(plan, 4, 10));
    CHECK(removesMostOf(plan, 3, 10));
    plan.localRemovals = 0;
    plan.remoteRemovals = 1;
    CHECK(removesMostOf(plan, 5, 1));
    CHECK(!removesMostOf(plan, 5, 2));
}

TEST_CASE("a changed person patches only the card's mapped properties and keeps the rest")
{
    const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nitem1.TEL;TYPE=CELL:555-1\r\n"
                             "TEL;TYPE=WORK:555-0\r\nN:Smith;Ann;Q;Dr;\r\nFN:Ann Smith\r\n"
                             "PHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n BBBB\r\nEMAIL;TYPE=home:ann@x.org\r\n"
                             "ADR:;;1 Road;Town;;;\r\nX-CUSTOM:keep\r\nEND:VCARD\r\n";
    const Record was{"Ann", "Smith", "555-1", "ann@x.org"};
    const struct {
        const char* name;
        Record values;
        std::string expected;
    } cases[] = {
        {"nothing changed", was, card},
        {"a new phone keeps its group and type",
         {"Ann", "Smith", "555-9", "ann@x.org"},
         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nitem1.TEL;TYPE=CELL:555-9\r\nTEL;TYPE=WORK:555-0\r\n"
         "N:Smith;Ann;Q;Dr;\r\nFN:Ann Smith\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n BBBB\r\n"
         "EMAIL;TYPE=home:ann@x.org\r\nADR:;;1 Road;Town;;;\r\nX-CUSTOM:keep\r\nEND:VCARD\r\n"},
        {"a new name keeps N's other parts",
         {"Anne", "Smythe; Jr", "555-1", "ann@x.org"},
         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nitem1.TEL;TYPE=CELL:555-1\r\nTEL;TYPE=WORK:555-0\r\n"
         "N:Smythe\\; Jr;Anne;Q;Dr;\r\nFN:Anne Smythe\\; Jr\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n BBBB\r\n"
         "EMAIL;TYPE=home:ann@x.org\r\nADR:;;1 Road;Town;;;\r\nX-CUSTOM:keep\r\nEND:VCARD\r\n"},
        {"an e-mail emptied is removed; the folded photo after the name stays whole",
         {"Ann", "Smith", "555-1", ""},
         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nitem1.TEL;TYPE=CELL:555-1\r\nTEL;TYPE=WORK:555-0\r\n"
         "N:Smith;Ann;Q;Dr;\r\nFN:Ann Smith\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n BBBB\r\n"
         "ADR:;;1 Road;Town;;;\r\nX-CUSTOM:keep\r\nEND:VCARD\r\n"},
    };
    for (const auto& row : cases) {
        CAPTURE(std::string(row.name));
        const std::optional<std::string> patched = patchedCardText(card, was, row.values);
        REQUIRE(patched);
        CHECK(*patched == row.expected);
        const std::optional<CardPerson> person = personOfCard(*patched);
        REQUIRE(person);
        CHECK(person->values == row.values);
        CHECK(person->uid == "u1");
    }
    // A value filled in where the card had none is added before its end.
    const std::optional<std::string> added = patchedCardText("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bo\r\nEND:VCARD\r\n",
                                                             {"Bo", "", "", ""}, {"Bo", "", "1", ""});
    REQUIRE(added);
    CHECK(*added == "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bo\r\nTEL:1\r\nEND:VCARD\r\n");
    CHECK(!patchedCardText("not a card", was, was));
    const std::string fresh = newCardText({"A", "B", "", "a@b"}, "uid/with@signs", VCardVersion::V30);
    CHECK(fresh.starts_with("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:uid/with@signs\r\nN:B;A;;;\r\n"));
    CHECK(personOfCard(fresh)->uid == "uid/with@signs");
}

TEST_CASE("the state reads back as written, and a damaged one reads as none")
{
    SyncState state{
        .addressBook = "http://h/b/", .list = "/home/a/list\tx", .syncToken = "tok\t1", .cardVersion = "4.0"};
    state.links.push_back({"/b/a b.vcf", "\"e\"", "u", {"A\\n", "B\r\nC", "", "\t"}});
    state.links.push_back({"/b/c.vcf", "", "", {"", "", "", ""}});
    state.sent.push_back({"/b/new.vcf", "", "n", {"N", "", "5", ""}});
    state.taken.push_back({"/b/d.vcf", "\"d\"", "d", {"D", "E", "", ""}});
    const std::string text = stateText(state);
    const std::optional<SyncState> back = parseState(text);
    REQUIRE(back);
    CHECK(back->addressBook == state.addressBook);
    CHECK(back->syncToken == state.syncToken);
    CHECK(back->list == state.list);
    CHECK(back->cardVersion == "4.0");
    REQUIRE(back->links.size() == 2);
    CHECK(back->links[0].href == "/b/a b.vcf");
    CHECK(back->links[0].values == state.links[0].values);
    REQUIRE((back->sent.size() == 1 && back->taken.size() == 1));
    CHECK(back->sent[0].values == state.sent[0].values);
    CHECK(back->taken[0].etag == "\"d\"");
    for (const std::string& damaged :
         {text.substr(0, text.size() - 1), std::string("tesselby-sync 2\nbook\tx\n"),
          std::string("tesselby-sync 1\nbook\tx\nvcard\t2.1\n"), text + "link\tonly\n", text + "oops\n", std::string()})
        CHECK(!parseState(damaged));
}

TEST_CASE("the progress line is cleared before any other line reaches the terminal")
{
    std::ostringstream terminal, out;
    ProgressLine line(terminal, out, terminal);
    line.fetched(3, 10);
    CHECK(terminal.str() == "\rcards fetched 3 of 10, sent 0 of 0");
    line.err() << "GET /b/a.vcf\n";
    const std::string blank = '\r' + std::string(34, ' ') + '\r';
    CHECK(terminal.str() == "\rcards fetched 3 of 10, sent 0 of 0" + blank + "GET /b/a.vcf\n");
    terminal.str("");
    line.sent(2, 2);
    line.out() << "changing the list\n";
    CHECK(terminal.str() == "\rcards fetched 3 of 10, sent 2 of 2" + blank);
    CHECK(out.str() == "changing the list\n");
    terminal.str("");
    line.clear();
    CHECK(terminal.str().empty());
}
