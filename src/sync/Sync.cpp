#include "Sync.h"

#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "CardDavServer.h"
#include "CardText.h"
#include "ContactCommands.h"
#include "LocalList.h"
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

// Writes an earlier sync began but did not see land (it was killed, or the answer was lost): where the
// side written holds their values now, the link is made by them, as that sync would have made it.
void takeLandedWrites(SyncState& state, const std::vector<RemoteCard>& remote, const std::vector<Record>& people)
{
    std::unordered_map<std::string, const RemoteCard*> cardAt;
    for (const RemoteCard& card : remote)
        cardAt.emplace(card.href, &card);
    const std::set<Record> held(people.begin(), people.end());
    auto linkBy = [&](const CardLink& landed, const std::string& etag, bool listWrite) {
        for (CardLink& link : state.links) {
            if (link.href != landed.href)
                continue;
            // A person who still holds the old values is the one the write missed.
            if (!listWrite || !held.contains(link.values))
                link.values = landed.values;
            return;
        }
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
    bool fetchRemote(std::vector<RemoteCard>& remote);
    void report(const SyncPlan& plan) const;
    bool writeRemote(SyncPair& pair);

    CardDavServer m_server;
    const SyncOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_failed = false;
    bool m_again = false;
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
    // Links to another address book are of no use here.
    if (state.addressBook != m_options.addressBook)
        state = SyncState{m_options.addressBook, {}, {}, {}, {}};

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

    // The server's cards now: what the last sync linked, changed by a delta, or the whole listing.
    std::map<std::string, RemoteCard> cards;
    if (delta)
        for (const CardLink& link : state.links)
            cards[link.href] = RemoteCard{link.href, link.etag, link.uid, std::nullopt, false};
    for (const CardListed& card : listed) {
        const std::string key = urlPathKey(resolveUrl(m_options.addressBook, card.href));
        if (card.removed)
            cards.erase(key);
        else
            cards[key] = RemoteCard{key, card.etag, {}, std::nullopt, false};
    }
    std::unordered_map<std::string, const CardLink*> linkOf;
    for (const CardLink& link : state.links)
        linkOf.emplace(link.href, &link);
    std::vector<std::string> toFetch;
    for (auto& [key, card] : cards) {
        const auto link = linkOf.find(key);
        if (link == linkOf.end() || card.etag.empty() || card.etag != link->second->etag)
            toFetch.push_back(encodedPath(key));
        else
            card.uid = link->second->uid;
    }
    std::unordered_set<std::string> fetched;
    const bool gotCards = m_server.fetchCards(
        m_options.addressBook, toFetch,
        [&](const std::string& href, const std::string& etag, const std::string& text) {
            const std::string key = urlPathKey(resolveUrl(m_options.addressBook, href));
            const auto card = cards.find(key);
            if (card == cards.end())
                return;
            fetched.insert(key);
            if (!etag.empty())
                card->second.etag = etag;
            if (std::optional<CardPerson> person = personOfCard(text)) {
                card->second.values = std::move(person->values);
                card->second.uid = std::move(person->uid);
            } else {
                card->second.unreadable = true;
            }
        },
        why);
    if (!gotCards) {
        m_err << kCommandName << ": " << why << "; nothing was changed\n";
        return SyncOutcome::Failed;
    }
    std::vector<RemoteCard> remote;
    for (const std::string& href : toFetch) {
        const std::string key = urlPathKey(href);
        if (!fetched.contains(key)) {
            // Listed but not given: left alone this time, as a card that cannot be read is.
            cards[key].unreadable = true;
        }
    }
    for (auto& [key, card] : cards) {
        if (card.unreadable && !linkOf.contains(key))
            m_err << kCommandName << ": " << urlOf(key) << ": the card holds no person that can be read; left alone\n";
        remote.push_back(std::move(card));
    }

    takeLandedWrites(state, remote, list.value().people());
    linkOf.clear();
    for (const CardLink& link : state.links)
        linkOf.emplace(link.href, &link);

    SyncPlan plan = planSync(state.links, list.value().people(), remote, m_options.conflict);
    if (removesMostOf(plan, list.value().people().size(), remote.size()) && !m_options.allowMassRemoval) {
        m_err << kCommandName << ": the sync would remove " << peopleCount(plan.localRemovals) << " of "
              << list.value().people().size() << " from the list and " << peopleCount(plan.remoteRemovals) << " of "
              << remote.size()
              << " from the address book: more than half of a side, as when a side was emptied or is the wrong one; "
                 "nothing was changed (--allow-mass-removal lets it go ahead)\n";
        return SyncOutcome::Failed;
    }
    report(plan);
    if (m_options.dryRun)
        return plan.conflicts > 0 ? SyncOutcome::Conflicts : SyncOutcome::Done;

    // Before any write, the writes to one side are kept in the state: a sync cut off before its own
    // state's write then finds them landed (see takeLandedWrites), even when the person was edited since.
    SyncState ahead{m_options.addressBook, state.syncToken, state.links, {}, {}};
    std::vector<bool> sent(plan.pairs.size(), false);
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        SyncPair& pair = plan.pairs[i];
        if (!pair.conflicts.empty())
            continue;
        if (pair.remoteAction == SyncPair::Remote::Create) {
            if (pair.uid.empty())
                pair.uid = newCardUid();
            // A UID with a slash or other signs still gives a name the server keeps as one.
            pair.href = urlPathKey(urlPathKey(m_options.addressBook) + encodedPath(pair.uid) + ".vcf");
        }
        const bool remoteWrite =
            pair.remoteAction == SyncPair::Remote::Create || pair.remoteAction == SyncPair::Remote::Change;
        const bool localWrite = pair.localAction == SyncPair::Local::Add || pair.localAction == SyncPair::Local::Change;
        if (remoteWrite && !localWrite) {
            ahead.sent.push_back(CardLink{pair.href, pair.etag, pair.uid, pair.values});
            sent[i] = true;
        } else if (localWrite && !remoteWrite && !pair.href.empty()) {
            ahead.taken.push_back(CardLink{pair.href, pair.etag, pair.uid, pair.values});
        }
    }
    if (!ahead.sent.empty() || !ahead.taken.empty())
        if (Status saved = writeStateFile(m_options.state, ahead); !saved) {
            reportFailure(m_err, saved.error(), "cannot save the sync's state; nothing was changed");
            return SyncOutcome::Failed;
        }

    // The server first: a person is written into the list only once the server holds them too.
    std::vector<bool> failed(plan.pairs.size(), false);
    std::map<std::string, std::string> written; // href to the ETag the server gave, empty for a removal
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        SyncPair& pair = plan.pairs[i];
        if (!pair.conflicts.empty() || pair.remoteAction == SyncPair::Remote::Keep)
            continue;
        if (!writeRemote(pair))
            failed[i] = true;
        else
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
    std::vector<Record> adds;
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        const SyncPair& pair = plan.pairs[i];
        if (failed[i] || !pair.conflicts.empty())
            continue;
        if (pair.localAction == SyncPair::Local::Change)
            changes.emplace_back(*pair.local, pair.values);
        else if (pair.localAction == SyncPair::Local::Remove)
            removals.push_back(*pair.local);
        else if (pair.localAction == SyncPair::Local::Add)
            adds.push_back(pair.values);
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

    // The links as they now stand; a person whose write failed keeps the link they had, so that the
    // next sync sees the same change again.
    SyncState next{m_options.addressBook, m_failed || m_again ? state.syncToken : newToken, {}, {}, {}};
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        const SyncPair& pair = plan.pairs[i];
        const bool localDone = pair.localAction == SyncPair::Local::Keep ||
                               (pair.localAction == SyncPair::Local::Add ? addsWritten : listWritten);
        if (!pair.conflicts.empty()) {
            next.links.push_back(CardLink{pair.href, pair.etag, pair.uid, pair.base});
            continue;
        }
        if (failed[i] || !localDone) {
            if (const auto link = linkOf.find(pair.href); link != linkOf.end() && !pair.href.empty())
                next.links.push_back(*link->second);
            // A write whose answer was lost may have landed all the same.
            if (failed[i] && sent[i])
                next.sent.push_back(CardLink{pair.href, pair.etag, pair.uid, pair.values});
            continue;
        }
        if (pair.linked && !pair.href.empty())
            next.links.push_back(CardLink{pair.href, pair.etag, pair.uid, pair.values});
    }
    if (Status saved = writeStateFile(m_options.state, next); !saved) {
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
    case SyncPair::Remote::Create: {
        const std::string url = urlOf(pair.href);
        const std::optional<HttpResponse> put =
            m_server.putCard(url, newCardText(pair.values, pair.uid, VCardVersion::V30), {}, true, why);
        if (!put) {
            m_err << kCommandName << ": " << why << '\n';
            m_failed = true;
            return false;
        }
        if (put->status == 412) {
            // Already there: an earlier upload landed though its answer was lost. Linked, never sent again;
            // its ETag left empty so that the next sync reads it.
            pair.etag.clear();
            return true;
        }
        if (put->status < 200 || put->status >= 300) {
            m_err << kCommandName << ": " << statusMessage(put->status, url) << '\n';
            m_failed = true;
            return false;
        }
        pair.etag = put->etag;
        return true;
    }
    case SyncPair::Remote::Change: {
        const std::string url = urlOf(pair.href);
        const std::optional<HttpResponse> now = m_server.getCard(url, why);
        if (!now) {
            m_err << kCommandName << ": " << why << '\n';
            m_failed = true;
            return false;
        }
        if (now->status == 404 || (!pair.etag.empty() && !now->etag.empty() && now->etag != pair.etag)) {
            m_again = true;
            return false;
        }
        if (now->status != 200) {
            m_err << kCommandName << ": " << statusMessage(now->status, url) << '\n';
            m_failed = true;
            return false;
        }
        const std::optional<CardPerson> was = personOfCard(now->body);
        const std::optional<std::string> text =
            was ? patchedCardText(now->body, was->values, pair.values) : std::nullopt;
        if (!text) {
            m_err << kCommandName << ": " << url << ": the card on the server cannot be read; it was left alone\n";
            m_failed = true;
            return false;
        }
        const std::string ifMatch = !now->etag.empty() ? now->etag : pair.etag;
        const std::optional<HttpResponse> put = m_server.putCard(url, *text, ifMatch, false, why);
        if (!put) {
            m_err << kCommandName << ": " << why << '\n';
            m_failed = true;
            return false;
        }
        if (put->status == 412) {
            m_again = true;
            return false;
        }
        if (put->status < 200 || put->status >= 300) {
            m_err << kCommandName << ": " << statusMessage(put->status, url) << '\n';
            m_failed = true;
            return false;
        }
        pair.etag = put->etag;
        return true;
    }
    case SyncPair::Remote::Remove: {
        const std::string url = urlOf(pair.href);
        const std::optional<HttpResponse> removed = m_server.deleteCard(url, pair.etag, why);
        if (!removed) {
            m_err << kCommandName << ": " << why << '\n';
            m_failed = true;
            return false;
        }
        if (removed->status == 412) {
            m_again = true;
            return false;
        }
        if ((removed->status < 200 || removed->status >= 300) && removed->status != 404) {
            m_err << kCommandName << ": " << statusMessage(removed->status, url) << '\n';
            m_failed = true;
            return false;
        }
        return true;
    }
    }
    return true;
}

void Synchronizer::report(const SyncPlan& plan) const
{
    std::size_t counts[2][3] = {};
    for (const SyncPair& pair : plan.pairs) {
        if (!pair.conflicts.empty()) {
            m_out << "conflict: " << personName(pair.base) << ':';
            for (const int field : pair.conflicts)
                m_out << " field " << field + 1 << " is \"" << oneLine(pair.localValues[field]) << "\" here and \""
                      << oneLine(pair.remoteValues[field]) << "\" on the server;";
            m_out << " left as it is on both sides (--conflict local or remote settles it)\n";
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
    SyncOutcome outcome = SyncOutcome::Failed;
    for (int pass = 0; pass < kPasses; ++pass) {
        bool again = false;
        Synchronizer synchronizer(http, options, out, err);
        outcome = synchronizer.run(again);
        if (!again || outcome == SyncOutcome::Failed)
            return outcome;
        out << "cards changed on the server during the sync; going over them again\n";
    }
    return outcome;
}

} // namespace tesselby
