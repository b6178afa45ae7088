#include "Sync.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <unordered_map>

#include "CardDavServer.h"
#include "CardText.h"
#include "ContactCommands.h"
#include "LocalList.h"
#include "ProgressLine.h"
#include "SyncState.h"
#include "disk/FileLock.h"

namespace tesselby {

namespace {

// A sync that met a card changed on the server while it wrote goes over everything again, this often.
constexpr int kPasses = 3;
// Another sync of the same user may take a while; this one waits its turn.
constexpr std::chrono::minutes kSyncPatience{10};

std::string personName(const Record& values)
{
    std::string name = fullName(values[0], values[1]);
    if (name.empty())
        name = !values[3].empty() ? values[3] : values[2];
    return oneLine(name);
}

// A conflict's question, asked for each person until answered with one of its letters (Enter leaves it).
constexpr char kConflictQuestion[] = "keep here (h), take the server's (s), or leave it as it is (l)? ";

// A path as it goes into a URL: every byte outside the characters a path may hold as they are escaped.
std::string encodedPath(std::string_view path)
{
    constexpr std::string_view kept = "-._~/!$&'()*+,;=:@";
    constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || kept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

// Whether the list holds exactly the people the links were made with, duplicates as many times, and
// every link has an ETag (a card without one is read again at each sync).
bool holdsTheLinkedPeople(const std::vector<CardLink>& links, const std::vector<Record>& people)
{
    if (links.size() != people.size())
        return false;
    std::vector<const Record*> linked, listed;
    linked.reserve(links.size());
    listed.reserve(people.size());
    for (const CardLink& link : links) {
        if (link.etag.empty())
            return false;
        linked.push_back(&link.values);
    }
    for (const Record& person : people)
        listed.push_back(&person);
    const auto byValues = [](const Record* a, const Record* b) { return *a < *b; };
    std::sort(linked.begin(), linked.end(), byValues);
    std::sort(listed.begin(), listed.end(), byValues);
    return std::equal(linked.begin(), linked.end(), listed.begin(),
                      [](const Record* a, const Record* b) { return *a == *b; });
}

// Writes an earlier sync began but did not see land (it was killed, or the answer was lost): where the
// side written holds their values now, the link is made by them, as that sync would have made it.
void takeLandedWrites(SyncState& state, const std::vector<RemoteCard>& remote, const std::vector<Record>& people)
{
    if (state.sent.empty() && state.taken.empty())
        return;
    std::unordered_map<std::string, const RemoteCard*> cardAt;
    for (const RemoteCard& card : remote)
        cardAt.emplace(card.href, &card);
    std::unordered_map<std::string, std::size_t> linkAt;
    for (std::size_t l = 0; l < state.links.size(); ++l)
        linkAt.emplace(state.links[l].href, l);
    const std::set<Record> held(people.begin(), people.end());
    auto linkBy = [&](const CardLink& landed, const std::string& etag, bool listWrite) {
        if (const auto at = linkAt.find(landed.href); at != linkAt.end()) {
            CardLink& link = state.links[at->second];
            // A person who still holds the old values is the one the write missed.
            if (!listWrite || !held.contains(link.values))
                link.values = landed.values;
            return;
        }
        linkAt.emplace(landed.href, state.links.size());
        state.links.push_back(CardLink{landed.href, etag, landed.uid, landed.values});
    };
    for (const CardLink& sent : state.sent)
        if (const auto card = cardAt.find(sent.href); card != cardAt.end() && card->second->values == sent.values)
            linkBy(sent, card->second->etag, false);
    for (const CardLink& taken : state.taken)
        if (held.contains(taken.values))
            linkBy(taken, taken.etag, true);
    state.sent.clear();
    state.taken.clear();
}

// Whether the card found at a new person's address is theirs, sent by an earlier sync whose answer was
// lost: their values, or at least two of them (or their only one) where the server stored the rest
// otherwise.
bool holdsPerson(const Record& card, const Record& person)
{
    const Record sent = cardForm(person);
    int filled = 0;
    int shared = 0;
    for (int field = 0; field < kFieldCount; ++field) {
        filled += sent[field].empty() ? 0 : 1;
        shared += !sent[field].empty() && sent[field] == card[field] ? 1 : 0;
    }
    return card == sent || (filled > 0 && shared >= std::min(2, filled));
}

// Whether two ETags name the same version, a weak one as its strong one: a server may give a card's
// ETag weak in one answer and strong in another.
bool sameTag(std::string_view a, std::string_view b)
{
    const auto opaque = [](std::string_view tag) { return tag.starts_with("W/") ? tag.substr(2) : tag; };
    return opaque(a) == opaque(b);
}

// The listing's many small pieces, freed, are scattered between what is kept; the plan's large blocks
// that follow cannot use them, so the pages are handed back rather than held to the end.
void giveBackFreedMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

// A large book's big blocks (the cards, the pairs) go back when freed instead of
// staying to hold the small pieces that come after them.
void handBackLargeBlocks()
{
#ifdef __GLIBC__
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

class Synchronizer {
public:
    Synchronizer(HttpClient& http, const SyncOptions& options, std::ostream& out, std::ostream& err)
        : m_server(http), m_options(options), m_out(out), m_err(err)
    {
    }

    // One pass; again is set when a card changed on the server while it was written.
    SyncOutcome run(bool& again);

private:
    std::string urlOf(const std::string& hrefKey) const
    {
        return resolveUrl(m_options.addressBook, encodedPath(hrefKey));
    }
    // The address of a new card: its UID's name in the book.
    std::string hrefFor(const std::string& uid) const
    {
        // A UID with a slash or other signs still gives a name the server keeps as one: the slash is
        // written "%2F" in the name, as a decoded one would make the card's address a folder's.
        std::string name = uid;
        for (std::size_t at = 0; (at = name.find('/', at)) != std::string::npos; at += 3)
            name.replace(at, 1, "%2F");
        return urlPathKey(urlPathKey(m_options.addressBook) + encodedPath(name) + ".vcf");
    }
    void askAboutConflicts(SyncPlan& plan);
    void report(const SyncPlan& plan) const;
    bool writeRemote(SyncPair& pair);
    // Says why a write failed; the sync goes on with the others, and ends as failed.
    bool failWrite(const std::string& message)
    {
        m_err << kCommandName << ": " << message << '\n';
        m_failed = true;
        return false;
    }
    void checkStored(const std::vector<std::pair<SyncPair*, Record>>& written);

    CardDavServer m_server;
    const SyncOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_failed = false;
    bool m_again = false;
    VCardVersion m_cardVersion = VCardVersion::V30;
    // Cards written whose answer gave no ETag, or a weak one: the server may hold them otherwise than sent.
    std::vector<std::pair<SyncPair*, Record>> m_unsure; // with the values sent
};

SyncOutcome Synchronizer::run(bool& again)
{
    bool damaged = false;
    Result<SyncState> read = readStateFile(m_options.state, damaged);
    if (!read) {
        reportFailure(m_err, read.error(), "cannot read the sync's state");
        return SyncOutcome::Failed;
    }
    SyncState state = std::move(read.value());
    if (damaged)
        m_err << kCommandName << ": " << pathText(m_options.state)
              << ": the sync's state is damaged; people and cards are linked again by their values\n";
    // Links to another address book, or from another list (another XDG_DATA_HOME), are of no use here:
    // the sync starts again as a first one, which links by values.
    std::error_code noPath;
    const std::string listKey = pathText(std::filesystem::weakly_canonical(m_options.list, noPath));
    if (state.addressBook != m_options.addressBook || (!state.list.empty() && state.list != listKey))
        state = SyncState{.addressBook = m_options.addressBook, .list = listKey};

    Result<LocalList> list = LocalList::read(m_options.list);
    if (!list) {
        reportFailure(m_err, list.error());
        return SyncOutcome::Failed;
    }

    std::string why;
    std::vector<CardListed> listed;
    std::string newToken;
    bool delta = false;
    if (!m_server.listCards(m_options.addressBook, state.syncToken, listed, newToken, delta, why)) {
        m_err << kCommandName << ": " << why << "; nothing was changed\n";
        return SyncOutcome::Failed;
    }

    // Nothing changed on either side since the last sync: only the token is kept, and a large book's
    // cards and pairs are never made.
    if (delta && listed.empty() && state.sent.empty() && state.taken.empty() &&
        holdsTheLinkedPeople(state.links, list.value().people())) {
        report(SyncPlan{});
        if (m_options.dryRun || newToken == state.syncToken)
            return SyncOutcome::Done;
        state.syncToken = newToken;
        if (Status saved = writeStateFile(m_options.state, state); !saved) {
            reportFailure(m_err, saved.error(), "cannot save the sync's state (the next sync links by values)");
            return SyncOutcome::Failed;
        }
        return SyncOutcome::Done;
    }

    // The server's cards now: what the last sync linked, changed by a delta, or the whole listing. A linked
    // card as the link left it (the same ETag) is only marked kept: a large book's unchanged cards are
    // never made. The others stand in one block (reserved whole, so that the index's views of their
    // addresses stay put), found by address while they are fetched.
    std::unordered_map<std::string_view, std::size_t> linkAt;
    for (std::size_t l = 0; l < state.links.size(); ++l)
        linkAt.emplace(state.links[l].href, l);
    std::vector<bool> cardKept(state.links.size(), false);
    std::vector<RemoteCard> remote;
    remote.reserve(state.links.size() + listed.size());
    std::vector<bool> gone; // removed by the delta, or kept after all
    std::unordered_map<std::string_view, std::size_t> cardAt;
    auto listCard = [&](std::string key, const std::string& etag, const std::string& uid, bool removed) {
        const auto link = linkAt.find(key);
        const bool kept = !removed && link != linkAt.end() && !etag.empty() && etag == state.links[link->second].etag;
        if (link != linkAt.end())
            cardKept[link->second] = kept;
        if (const auto at = cardAt.find(key); at != cardAt.end()) {
            RemoteCard& card = remote[at->second];
            card.etag = etag;
            card.uid = uid;
            gone[at->second] = removed || kept;
        } else if (!removed && !kept) {
            remote.push_back(RemoteCard{std::move(key), etag, uid, std::nullopt, false});
            gone.push_back(false);
            cardAt.emplace(remote.back().href, remote.size() - 1);
        }
    };
    if (delta)
        for (const CardLink& link : state.links)
            listCard(link.href, link.etag, link.uid, false);
    for (const CardListed& card : listed)
        listCard(urlPathKey(resolveUrl(m_options.addressBook, card.href)), card.etag, {}, card.removed);
    listed = std::vector<CardListed>();
    std::vector<std::string> toFetch;
    for (std::size_t i = 0; i < remote.size(); ++i)
        if (!gone[i])
            toFetch.push_back(encodedPath(remote[i].href));
    // A card asked for and given holds its values or is unreadable from here on.
    std::size_t fetched = 0;
    if (m_options.progress != nullptr)
        m_options.progress->fetched(0, toFetch.size());
    const bool gotCards = m_server.fetchCards(
        m_options.addressBook, toFetch,
        [&](const std::string& href, const std::string& etag, const std::string& text) {
            const auto at = cardAt.find(urlPathKey(resolveUrl(m_options.addressBook, href)));
            if (at == cardAt.end() || gone[at->second])
                return;
            RemoteCard& card = remote[at->second];
            if (!card.values && !card.unreadable) {
                ++fetched;
                if (m_options.progress != nullptr)
                    m_options.progress->fetched(fetched, toFetch.size());
            }
            if (!etag.empty())
                card.etag = etag;
            if (std::optional<CardPerson> person = personOfCard(text)) {
                card.values = std::move(person->values);
                card.uid = std::move(person->uid);
            } else {
                card.unreadable = true;
            }
        },
        why, toFetch.size());
    if (!gotCards) {
        m_err << kCommandName << ": " << why << "; nothing was changed\n";
        return SyncOutcome::Failed;
    }
    toFetch = std::vector<std::string>();
    cardAt = {};
    // The cards fetched, in the order of their addresses. One that cannot be read is left alone, and so
    // is one listed but not given this time; the token is then not taken, so that the next sync asks
    // for it again rather than missing its change.
    bool allGiven = true;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < remote.size(); ++i) {
        if (gone[i])
            continue;
        RemoteCard& card = remote[i];
        if (!card.values && !card.unreadable) {
            m_err << kCommandName << ": " << urlOf(card.href)
                  << ": the server listed the card but did not give it; left alone until the next sync\n";
            allGiven = false;
        } else if (card.unreadable && !linkAt.contains(card.href)) {
            m_err << kCommandName << ": " << urlOf(card.href)
                  << ": the card holds no person that can be read; left alone\n";
        }
        card.unreadable = !card.values;
        if (kept != i)
            remote[kept] = std::move(card);
        ++kept;
    }
    remote.resize(kept);
    gone = std::vector<bool>();
    std::sort(remote.begin(), remote.end(), [](const RemoteCard& a, const RemoteCard& b) { return a.href < b.href; });
    giveBackFreedMemory();

    takeLandedWrites(state, remote, list.value().people());
    linkAt.clear();
    for (std::size_t l = 0; l < state.links.size(); ++l)
        linkAt.emplace(state.links[l].href, l);
    cardKept.resize(state.links.size(), false);

    const std::size_t cardCount =
        remote.size() + static_cast<std::size_t>(std::count(cardKept.begin(), cardKept.end(), true));
    SyncPlan plan = planSync(state.links, list.value().people(), std::move(remote), m_options.conflict, cardKept);
    cardKept = std::vector<bool>();
    if (removesMostOf(plan, list.value().people().size(), cardCount) && !m_options.allowMassRemoval) {
        m_err << kCommandName << ": the sync would remove " << peopleCount(plan.localRemovals) << " of "
              << list.value().people().size() << " from the list and " << peopleCount(plan.remoteRemovals) << " of "
              << cardCount
              << " from the address book: more than half of a side, as when a side was emptied or is the wrong one; "
                 "nothing was changed (--allow-mass-removal lets it go ahead)\n";
        return SyncOutcome::Failed;
    }
    if (m_options.conflict == ConflictChoice::Ask && m_options.answers != nullptr && !m_options.dryRun)
        askAboutConflicts(plan);
    giveBackFreedMemory(); // the cards, moved into their pairs
    report(plan);
    if (m_options.dryRun)
        return plan.conflicts > 0 ? SyncOutcome::Conflicts : SyncOutcome::Done;

    // New cards in the version the book takes: told by the discovery that found it, else asked of it once
    // (and only by a sync that makes cards).
    std::size_t toSend = 0;
    bool creates = false;
    for (const SyncPair& pair : plan.pairs) {
        toSend += pair.conflicts.empty() && pair.remoteAction != SyncPair::Remote::Keep ? 1 : 0;
        creates = creates || (pair.conflicts.empty() && pair.remoteAction == SyncPair::Remote::Create);
    }
    std::string cardVersion = !state.cardVersion.empty() ? state.cardVersion : m_options.cardVersion;
    if (cardVersion.empty() && creates)
        cardVersion = m_server.cardVersion(m_options.addressBook, why).value_or(std::string());
    m_cardVersion = cardVersion == "4.0" ? VCardVersion::V40 : VCardVersion::V30;

    // Before any write, the writes to one side are kept in the state: a sync cut off before its own
    // state's write then finds them landed (see takeLandedWrites), even when the person was edited since.
    // Written as lines from the pairs, a piece at a time: a first sync of a large book writes a line for
    // every card.
    std::vector<bool> sentAhead(plan.pairs.size(), false);
    std::vector<const char*> aheadKind(plan.pairs.size(), nullptr);
    bool writesAhead = false;
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        SyncPair& pair = plan.pairs[i];
        if (!pair.conflicts.empty())
            continue;
        if (pair.remoteAction == SyncPair::Remote::Create) {
            if (pair.uid.empty())
                pair.uid = newCardUid();
            pair.href = hrefFor(pair.uid);
        }
        const bool remoteWrite =
            pair.remoteAction == SyncPair::Remote::Create || pair.remoteAction == SyncPair::Remote::Change;
        const bool localWrite = pair.localAction == SyncPair::Local::Add || pair.localAction == SyncPair::Local::Change;
        aheadKind[i] = remoteWrite && !localWrite                         ? "sent"
                       : localWrite && !remoteWrite && !pair.href.empty() ? "taken"
                                                                          : nullptr;
        sentAhead[i] = remoteWrite && aheadKind[i] != nullptr;
        writesAhead = writesAhead || aheadKind[i] != nullptr;
    }
    state.list = listKey;
    if (writesAhead) {
        std::size_t next = 0;
        const Status saved = writeStateFile(m_options.state, state, [&](std::string& lines) {
            while (next < plan.pairs.size() && aheadKind[next] == nullptr)
                ++next;
            if (next < plan.pairs.size()) {
                const SyncPair& pair = plan.pairs[next];
                appendStateLine(lines, aheadKind[next++], pair.href, pair.etag, pair.uid, pair.values);
            }
            return next < plan.pairs.size();
        });
        if (!saved) {
            reportFailure(m_err, saved.error(), "cannot save the sync's state; nothing was changed");
            return SyncOutcome::Failed;
        }
    }
    aheadKind = std::vector<const char*>();
    giveBackFreedMemory();

    // The server first: a person is written into the list only once the server holds them too.
    std::vector<bool> failed(plan.pairs.size(), false);
    std::size_t sent = 0;
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        SyncPair& pair = plan.pairs[i];
        if (!pair.conflicts.empty() || pair.remoteAction == SyncPair::Remote::Keep)
            continue;
        if (!writeRemote(pair))
            failed[i] = true;
        if (m_options.progress != nullptr)
            m_options.progress->sent(++sent, toSend);
    }
    checkStored(m_unsure);
    std::map<std::string, std::string> written; // href to the ETag the server gave, empty for a removal
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        const SyncPair& pair = plan.pairs[i];
        if (!failed[i] && pair.conflicts.empty() && pair.remoteAction != SyncPair::Remote::Keep)
            written[pair.href] = pair.remoteAction == SyncPair::Remote::Remove ? std::string() : pair.etag;
    }
    // A server may leave out of a later delta a card made and removed since its token, and our own
    // writes came after the token: the token after them is taken when they are all the delta holds,
    // else none, and the next sync lists every card.
    if (!written.empty() && !newToken.empty()) {
        std::vector<CardListed> since;
        std::string afterToken;
        bool sinceIsDelta = false;
        bool onlyOurs =
            m_server.listCards(m_options.addressBook, newToken, since, afterToken, sinceIsDelta, why) && sinceIsDelta;
        for (const CardListed& card : since) {
            const auto ours = written.find(urlPathKey(resolveUrl(m_options.addressBook, card.href)));
            onlyOurs = onlyOurs && ours != written.end() && !ours->second.empty() == !card.removed &&
                       (card.removed || ours->second == card.etag);
        }
        newToken = onlyOurs ? afterToken : std::string();
    }

    std::vector<std::pair<std::size_t, Record>> changes;
    std::vector<std::size_t> removals;
    std::vector<const Record*> adds; // the pairs' own values: a first sync of a large book adds every card
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        const SyncPair& pair = plan.pairs[i];
        if (failed[i] || !pair.conflicts.empty())
            continue;
        if (pair.localAction == SyncPair::Local::Change)
            changes.emplace_back(*pair.local, pair.values);
        else if (pair.localAction == SyncPair::Local::Remove)
            removals.push_back(*pair.local);
        else if (pair.localAction == SyncPair::Local::Add)
            adds.push_back(&pair.values);
    }
    bool listWritten = true;
    if (Status applied = list.value().apply(changes, removals, adds, "the address book " + m_options.addressBook);
        !applied) {
        if (applied.error().detail == kListChangedDuringSync) {
            // The server's side is done; the next pass finds those people changed there and brings them in.
            m_again = true;
        } else {
            reportFailure(m_err, applied.error());
            m_failed = true;
        }
        listWritten = false;
    }
    const bool addsWritten = listWritten;
    adds = std::vector<const Record*>();

    // The links as they now stand; a person whose write failed keeps the link they had, so that the
    // next sync sees the same change again.
    if (m_cardVersion == VCardVersion::V30 && !cardVersion.empty())
        cardVersion = "3.0";
    const SyncState next{.addressBook = m_options.addressBook,
                         .list = listKey,
                         .syncToken = m_failed || m_again || !allGiven ? state.syncToken : newToken,
                         .cardVersion = cardVersion};
    // Written a piece at a time, in the links' order (each link kept as it was, or its pair), then the
    // new pairs: a large book's links are not held twice.
    auto appendPair = [&](std::string& lines, std::size_t i) {
        const SyncPair& pair = plan.pairs[i];
        const bool localDone = pair.localAction == SyncPair::Local::Keep ||
                               (pair.localAction == SyncPair::Local::Add ? addsWritten : listWritten);
        if (!pair.conflicts.empty()) {
            // Without an ETag, so that the next sync reads the card again, even from a delta that no
            // longer lists it.
            appendStateLine(lines, "link", pair.href, {}, pair.uid, pair.base);
        } else if (failed[i] || !localDone) {
            if (const auto link = linkAt.find(pair.href); link != linkAt.end() && !pair.href.empty()) {
                const CardLink& was = state.links[link->second];
                appendStateLine(lines, "link", was.href, was.etag, was.uid, was.values);
            }
            // A write whose answer was lost may have landed all the same.
            if (failed[i] && sentAhead[i])
                appendStateLine(lines, "sent", pair.href, pair.etag, pair.uid, pair.values);
        } else if (pair.linked && !pair.href.empty()) {
            appendStateLine(lines, "link", pair.href, pair.etag, pair.uid, pair.values);
        }
    };
    std::size_t link = 0;
    std::size_t keptAt = 0;
    std::size_t pairAt = 0;
    const Status saved = writeStateFile(m_options.state, next, [&](std::string& lines) {
        if (link < state.links.size()) {
            if (keptAt < plan.keptLinks.size() && plan.keptLinks[keptAt] == link) {
                const CardLink& kept = state.links[link];
                appendStateLine(lines, "link", kept.href, kept.etag, kept.uid, kept.values);
                ++keptAt;
            } else if (pairAt < plan.pairs.size()) {
                appendPair(lines, pairAt++);
            }
            ++link;
        } else if (pairAt < plan.pairs.size()) {
            appendPair(lines, pairAt++);
        }
        return link < state.links.size() || pairAt < plan.pairs.size();
    });
    if (!saved) {
        reportFailure(m_err, saved.error(), "cannot save the sync's state (the next sync links by values)");
        m_failed = true;
    }
    again = m_again;
    if (m_failed)
        return SyncOutcome::Failed;
    return plan.conflicts > 0 ? SyncOutcome::Conflicts : SyncOutcome::Done;
}

bool Synchronizer::writeRemote(SyncPair& pair)
{
    std::string why;
    switch (pair.remoteAction) {
    case SyncPair::Remote::Keep:
        return true;
    case SyncPair::Remote::Create:
        // Two addresses at most: the first, named by the person's UID, may hold another card.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const std::string url = urlOf(pair.href);
            std::optional<HttpResponse> put =
                m_server.putCard(url, newCardText(pair.values, pair.uid, m_cardVersion), {}, true, why);
            // A book that said it takes 4.0 but refuses it is sent 3.0, from now on.
            if (put && put->status == 415 && m_cardVersion == VCardVersion::V40) {
                m_cardVersion = VCardVersion::V30;
                put = m_server.putCard(url, newCardText(pair.values, pair.uid, m_cardVersion), {}, true, why);
            }
            if (!put) {
                return failWrite(why);
            }
            if (put->status == 412) {
                // Something is there already. An earlier upload of this person whose answer was lost is
                // linked, never sent again, its ETag left empty so that the next sync reads it; another
                // card is left alone, and the person goes to an address (and a UID) of their own.
                const std::optional<HttpResponse> there = m_server.getCard(url, why);
                if (!there) {
                    return failWrite(why);
                }
                const std::optional<CardPerson> held =
                    there->status == 200 ? personOfCard(there->body) : std::optional<CardPerson>();
                if (held && held->uid == pair.uid && holdsPerson(held->values, pair.values)) {
                    pair.etag.clear();
                    return true;
                }
                if (attempt == 0) {
                    pair.uid = newCardUid();
                    pair.href = hrefFor(pair.uid);
                    continue;
                }
                return failWrite(url + ": another card is at the address made for " + personName(pair.values) +
                                 "; they were not sent");
            }
            if (put->status < 200 || put->status >= 300) {
                return failWrite(statusMessage(put->status, url));
            }
            pair.etag = put->etag;
            if (pair.etag.empty() || pair.etag.starts_with("W/"))
                m_unsure.emplace_back(&pair, pair.values);
            return true;
        }
        return false;
    case SyncPair::Remote::Change: {
        const std::string url = urlOf(pair.href);
        const std::optional<HttpResponse> now = m_server.getCard(url, why);
        if (!now) {
            return failWrite(why);
        }
        if (now->status == 404 || (!pair.etag.empty() && !now->etag.empty() && !sameTag(now->etag, pair.etag))) {
            m_again = true;
            return false;
        }
        if (now->status != 200) {
            return failWrite(statusMessage(now->status, url));
        }
        const std::optional<CardPerson> was = personOfCard(now->body);
        // A value this side did not change stays as the server holds it, also one it stored otherwise
        // than it was sent.
        Record sent = pair.values;
        if (was)
            for (int field = 0; field < kFieldCount; ++field)
                if (pair.values[field] == pair.base[field])
                    sent[field] = was->values[field];
        const std::optional<std::string> text = was ? patchedCardText(now->body, was->values, sent) : std::nullopt;
        if (!text) {
            return failWrite(url + (was ? ": the card on the server cannot be changed so that it reads as the person; "
                                          "it was left alone"
                                        : ": the card on the server cannot be read; it was left alone"));
        }
        // A precondition is compared strongly: the card's strong ETag where one answer gave it weak.
        const std::string ifMatch =
            now->etag.empty() || (now->etag.starts_with("W/") && !pair.etag.empty() && !pair.etag.starts_with("W/"))
                ? pair.etag
                : now->etag;
        const std::optional<HttpResponse> put = m_server.putCard(url, *text, ifMatch, false, why);
        if (!put) {
            return failWrite(why);
        }
        if (put->status == 412) {
            m_again = true;
            return false;
        }
        if (put->status < 200 || put->status >= 300) {
            return failWrite(statusMessage(put->status, url));
        }
        pair.etag = put->etag;
        if (pair.etag.empty() || pair.etag.starts_with("W/"))
            m_unsure.emplace_back(&pair, std::move(sent));
        return true;
    }
    case SyncPair::Remote::Remove: {
        const std::string url = urlOf(pair.href);
        const std::optional<HttpResponse> removed = m_server.deleteCard(url, pair.etag, why);
        if (!removed) {
            return failWrite(why);
        }
        if (removed->status == 412) {
            m_again = true;
            return false;
        }
        if ((removed->status < 200 || removed->status >= 300) && removed->status != 404) {
            return failWrite(statusMessage(removed->status, url));
        }
        return true;
    }
    }
    return true;
}

void Synchronizer::askAboutConflicts(SyncPlan& plan)
{
    for (SyncPair& pair : plan.pairs) {
        if (pair.conflicts.empty())
            continue;
        m_out << "conflict: " << personName(pair.base) << " was changed on both sides:\n";
        for (const int field : pair.conflicts)
            m_out << "  " << kFieldNames[static_cast<std::size_t>(field)].inWords << ": \""
                  << oneLine(pair.sides->local[field]) << "\" here, \"" << oneLine(pair.sides->remote[field])
                  << "\" on the server\n";
        for (;;) {
            m_out << kConflictQuestion << std::flush;
            std::string answer;
            if (!std::getline(*m_options.answers, answer)) {
                // No more answers: this person and the rest are left as they are.
                m_out << '\n';
                return;
            }
            const auto first = answer.find_first_not_of(" \t\r");
            const char letter = first == std::string::npos ? 'l' : static_cast<char>(std::tolower(answer[first]));
            if (letter == 'h' || letter == 's') {
                settleConflict(plan, pair, letter == 'h' ? ConflictChoice::Local : ConflictChoice::Remote);
                break;
            }
            if (letter == 'l')
                break;
        }
    }
}

void Synchronizer::checkStored(const std::vector<std::pair<SyncPair*, Record>>& written)
{
    // One batched read of what the server holds for them, compared by the four values only: a server
    // that writes the same values in another form has stored them as sent.
    if (written.empty())
        return;
    std::map<std::string, const std::pair<SyncPair*, Record>*> byKey;
    std::vector<std::string> hrefs;
    for (const auto& each : written) {
        byKey[each.first->href] = &each;
        hrefs.push_back(encodedPath(each.first->href));
    }
    // A card that cannot be read back stands as written; a later sync reads what changed.
    std::string why;
    m_server.fetchCards(
        m_options.addressBook, hrefs,
        [&](const std::string& href, const std::string& etag, const std::string& text) {
            const auto found = byKey.find(urlPathKey(resolveUrl(m_options.addressBook, href)));
            if (found == byKey.end())
                return;
            SyncPair& pair = *found->second->first;
            const Record& sent = found->second->second;
            if (!etag.empty())
                pair.etag = etag;
            const std::optional<CardPerson> stored = personOfCard(text);
            if (stored && stored->values == sent)
                return;
            // Told once: the link keeps what was sent, so that the list is not taken as changed and nothing
            // is sent again; a card the server gives no ETag for is read again, and what it holds comes in.
            m_out << "stored differently: " << personName(sent) << ':';
            const char* between = " ";
            for (int field = 0; field < kFieldCount; ++field)
                if (!stored || stored->values[field] != sent[field]) {
                    m_out << between << kFieldNames[static_cast<std::size_t>(field)].inWords << " \""
                          << oneLine(sent[field]) << "\" was sent, the server holds \""
                          << (stored ? oneLine(stored->values[field]) : std::string()) << '"';
                    between = "; ";
                }
            m_out << '\n';
        },
        why);
}

void Synchronizer::report(const SyncPlan& plan) const
{
    std::size_t counts[2][3] = {};
    for (const SyncPair& pair : plan.pairs) {
        if (!pair.conflicts.empty()) {
            m_out << "conflict: " << personName(pair.base) << ':';
            for (const int field : pair.conflicts)
                m_out << ' ' << kFieldNames[static_cast<std::size_t>(field)].inWords << " is \""
                      << oneLine(pair.sides->local[field]) << "\" here and \"" << oneLine(pair.sides->remote[field])
                      << "\" on the server;";
            m_out << " left as it is on both sides (--conflict local, remote or ask settles it)\n";
            continue;
        }
        if (pair.keptAgainstRemoval)
            m_out << "kept: " << personName(pair.values)
                  << " was removed on one side but changed on the other, and is sent back\n";
        const int local = static_cast<int>(pair.localAction);
        const int remote = static_cast<int>(pair.remoteAction);
        // Add, Change, Remove on each side.
        if (local != 0)
            ++counts[0][local == 3 ? 0 : local == 1 ? 1 : 2];
        if (remote != 0)
            ++counts[1][remote == 3 ? 0 : remote == 1 ? 1 : 2];
        if (m_options.dryRun) {
            static constexpr const char* localWords[] = {"", "change", "remove", "add"};
            static constexpr const char* remoteWords[] = {"", "change", "remove", "add"};
            if (local != 0)
                m_out << "list: " << localWords[local] << ' ' << personName(pair.values) << '\n';
            if (remote != 0)
                m_out << "server: " << remoteWords[remote] << ' ' << personName(pair.values) << '\n';
        }
    }
    m_out << (m_options.dryRun ? "would change" : "changing") << " the list: " << counts[0][0] << " added, "
          << counts[0][1] << " changed, " << counts[0][2] << " removed; the address book: " << counts[1][0]
          << " added, " << counts[1][1] << " changed, " << counts[1][2] << " removed\n";
}

} // namespace

SyncOutcome syncAddressBook(HttpClient& http, const SyncOptions& options, std::ostream& out, std::ostream& err)
{
    std::error_code error;
    std::filesystem::create_directories(options.state.parent_path(), error);
    Result<FileLock> turn = FileLock::acquire(options.state.parent_path() / "sync", kSyncPatience);
    if (!turn) {
        reportFailure(err, turn.error(), "another sync is running");
        return SyncOutcome::Failed;
    }
    handBackLargeBlocks();
    SyncOutcome outcome = SyncOutcome::Failed;
    for (int pass = 0; pass < kPasses; ++pass) {
        bool again = false;
        Synchronizer synchronizer(http, options, out, err);
        outcome = synchronizer.run(again);
        if (!again || outcome == SyncOutcome::Failed)
            return outcome;
        if (pass + 1 < kPasses)
            out << "cards changed on the server during the sync; going over them again\n";
    }
    // What was synced stays synced; the rest is for the next sync, and the exit status says so.
    err << kCommandName
        << ": cards kept changing on the server during the sync; the people left are synced next "
           "time\n";
    return SyncOutcome::Failed;
}

} // namespace tesselby
