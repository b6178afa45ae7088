// Any links, list and cards (values from a small alphabet so that duplicates, near matches and values
// differing only in their line breaks are common): every person of the list and every readable card is in the plan exactly once, a removal
// happens only where the other side still holds the linked values, and a person both sides hold after
// the plan holds one set of values on both. Given the cards the links left as they were as kept rather
// than as cards, the plan is the same, less the pairs of the links nothing happens to.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "SyncPlan.h"

using namespace tesselby;

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t next() { return m_at < m_size ? m_data[m_at++] : 0; }
    bool done() const { return m_at >= m_size; }
    Record record()
    {
        // Two that differ only in their line break, as a person and the card a server hands back.
        static const char* const values[] = {"", "a", "b\n", "b\r\n"};
        const std::uint8_t bits = next();
        return {values[bits & 3], values[(bits >> 2) & 3], values[(bits >> 4) & 3], values[(bits >> 6) & 3]};
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void checkAt(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "check failed on line %d\n", line);
        std::abort();
    }
}
#define check(condition) checkAt(condition, __LINE__)

bool samePair(const SyncPair& a, const SyncPair& b)
{
    return a.local == b.local && a.href == b.href && a.etag == b.etag && a.uid == b.uid && a.base == b.base &&
           a.values == b.values && a.localAction == b.localAction && a.remoteAction == b.remoteAction &&
           a.conflicts == b.conflicts && a.keptAgainstRemoval == b.keptAgainstRemoval && a.linked == b.linked;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes bytes(data, size);
    const std::size_t linkCount = bytes.next() % 8;
    const std::size_t localCount = bytes.next() % 10;
    const std::size_t remoteCount = bytes.next() % 10;
    const auto choice = static_cast<ConflictChoice>(bytes.next() % 3);
    std::vector<CardLink> links;
    for (std::size_t i = 0; i < linkCount; ++i)
        links.push_back({"/c" + std::to_string(i), "e", "", bytes.record()});
    std::vector<Record> local;
    for (std::size_t i = 0; i < localCount; ++i)
        local.push_back(bytes.record());
    std::vector<RemoteCard> remote;
    std::set<std::string> hrefs;
    for (std::size_t i = 0; i < remoteCount; ++i) {
        const std::uint8_t how = bytes.next();
        // A card of a link (unchanged and not fetched, or fetched) or a new one; some unreadable.
        const std::string href = "/c" + std::to_string(how % 12);
        if (!hrefs.insert(href).second)
            continue;
        RemoteCard card{href, (how & 0x10) ? "e" : "f", "", bytes.record(), (how & 0xE0) == 0xE0};
        const bool linked = how % 12 < linkCount;
        if (card.unreadable)
            card.values.reset();
        else if (linked && card.etag == "e")
            card.values.reset();
        remote.push_back(card);
    }

    const SyncPlan plan = planSync(links, local, remote, choice);
    std::vector<int> localSeen(local.size(), 0);
    std::set<std::string> remoteSeen;
    for (const SyncPair& pair : plan.pairs) {
        if (pair.local)
            check(++localSeen.at(*pair.local) == 1);
        if (!pair.href.empty())
            check(remoteSeen.insert(pair.href).second);
        const RemoteCard* card = nullptr;
        for (const RemoteCard& each : remote)
            if (each.href == pair.href && !pair.href.empty())
                card = &each;
        if (pair.localAction == SyncPair::Local::Remove)
            check(card == nullptr && pair.local && local[*pair.local] == pair.base);
        if (pair.remoteAction == SyncPair::Remote::Remove) {
            check(!pair.local && card != nullptr);
            check(!card->values || *card->values == pair.base);
        }
        // A person whose card cannot be read is left as they are on both sides.
        if (card != nullptr && card->unreadable) {
            check(pair.localAction == SyncPair::Local::Keep && pair.remoteAction == SyncPair::Remote::Keep);
            continue;
        }
        if (!pair.conflicts.empty()) {
            check(pair.localAction == SyncPair::Local::Keep && pair.remoteAction == SyncPair::Remote::Keep);
            continue;
        }
        // What each side holds afterwards, when it holds the person.
        const bool localAfter =
            pair.localAction == SyncPair::Local::Add || (pair.local && pair.localAction != SyncPair::Local::Remove);
        const bool remoteAfter = pair.remoteAction == SyncPair::Remote::Create ||
                                 (card != nullptr && pair.remoteAction != SyncPair::Remote::Remove);
        if (localAfter && pair.localAction == SyncPair::Local::Keep)
            check(local[*pair.local] == pair.values);
        if (remoteAfter && pair.remoteAction == SyncPair::Remote::Keep && card != nullptr && card->values &&
            !card->unreadable)
            check(*card->values == pair.values);
        // A value is never dropped: each of the pair's final values was on one side or the other.
        for (int field = 0; field < kFieldCount; ++field) {
            const bool fromLocal = pair.local && local[*pair.local][field] == pair.values[field];
            const bool fromRemote =
                card != nullptr && (card->values ? *card->values : pair.base)[field] == pair.values[field];
            check(fromLocal || fromRemote || (!pair.local && card == nullptr));
        }
    }
    for (const int seen : localSeen)
        check(seen == 1);
    // Every card that can be read, linked or new, is in the plan once.
    for (const RemoteCard& card : remote)
        if (!card.unreadable)
            check(remoteSeen.contains(card.href));

    std::vector<bool> kept(links.size(), false);
    std::vector<RemoteCard> fetched;
    for (const RemoteCard& card : remote) {
        const std::size_t link = std::stoul(card.href.substr(2));
        if (link < links.size() && card.etag == links[link].etag && !card.values && !card.unreadable)
            kept[link] = true;
        else
            fetched.push_back(card);
    }
    const SyncPlan lean = planSync(links, local, fetched, choice, kept);
    check(lean.localRemovals == plan.localRemovals && lean.remoteRemovals == plan.remoteRemovals &&
          lean.conflicts == plan.conflicts);
    check(plan.keptLinks.empty() && plan.pairs.size() == lean.pairs.size() + lean.keptLinks.size());
    std::size_t keptAt = 0;
    std::size_t leanAt = 0;
    for (std::size_t i = 0; i < plan.pairs.size(); ++i) {
        const SyncPair& pair = plan.pairs[i];
        if (i < links.size() && keptAt < lean.keptLinks.size() && lean.keptLinks[keptAt] == i) {
            ++keptAt;
            check(kept[i] && pair.local && pair.localAction == SyncPair::Local::Keep &&
                  pair.remoteAction == SyncPair::Remote::Keep && pair.conflicts.empty() && pair.linked &&
                  pair.href == links[i].href && pair.etag == links[i].etag && pair.values == links[i].values);
        } else {
            check(samePair(pair, lean.pairs.at(leanAt++)));
        }
    }
    check(keptAt == lean.keptLinks.size());
    return 0;
}
