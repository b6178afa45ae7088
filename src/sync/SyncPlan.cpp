#include "SyncPlan.h"

#include <algorithm>
#include <deque>
#include <map>
#include <string_view>
#include <unordered_map>

namespace tesselby {

namespace {

int sharedValues(const Record& a, const Record& b)
{
    int shared = 0;
    for (int field = 0; field < kFieldCount; ++field)
        if (!a[field].empty() && a[field] == b[field])
            ++shared;
    return shared;
}

int filledValues(const Record& record)
{
    int filled = 0;
    for (const std::string& value : record)
        filled += value.empty() ? 0 : 1;
    return filled;
}

// Settles a person changed on both sides, field by field.
void mergeBoth(SyncPair& pair, const Record& local, const Record& remote, ConflictChoice choice)
{
    Record merged;
    std::vector<int> conflicts;
    for (int field = 0; field < kFieldCount; ++field) {
        if (local[field] == remote[field] || remote[field] == pair.base[field])
            merged[field] = local[field];
        else if (local[field] == pair.base[field])
            merged[field] = remote[field];
        else if (choice == ConflictChoice::Local)
            merged[field] = local[field];
        else if (choice == ConflictChoice::Remote)
            merged[field] = remote[field];
        else
            conflicts.push_back(field);
    }
    if (!conflicts.empty()) {
        pair.conflicts = std::move(conflicts);
        pair.sides = std::make_shared<const SyncPair::Sides>(SyncPair::Sides{local, remote});
        pair.values = pair.base;
        return;
    }
    pair.values = merged;
    if (merged != local)
        pair.localAction = SyncPair::Local::Change;
    if (merged != remote)
        pair.remoteAction = SyncPair::Remote::Change;
}

// Where records stand, by their values, duplicates in the order they stand; keyed by the records
// themselves rather than copies of them, as a first sync of a large book holds every card's values.
class RecordsByValues {
public:
    void add(const Record& values, std::size_t at) { m_at[&values].at.push_back(at); }
    // The first not yet taken of those holding values, taken now.
    std::optional<std::size_t> take(const Record& values)
    {
        const auto found = m_at.find(&values);
        if (found == m_at.end() || found->second.next == found->second.at.size())
            return std::nullopt;
        return found->second.at[found->second.next++];
    }

private:
    struct ByValue {
        bool operator()(const Record* a, const Record* b) const { return *a < *b; }
    };
    struct Places {
        std::vector<std::size_t> at;
        std::size_t next = 0;
    };
    std::map<const Record*, Places, ByValue> m_at;
};

// Records in their card form (see cardForm), made only for the few whose line breaks differ from it.
class CardForms {
public:
    const Record& of(const Record& values)
    {
        for (const std::string& value : values)
            if (value.find_first_of("\r\n") != std::string::npos)
                return m_made.emplace_back(cardForm(values));
        return values;
    }

private:
    std::deque<Record> m_made; // where the references handed out stay
};

} // namespace

Record cardForm(const Record& values)
{
    Record same = values;
    for (std::string& value : same) {
        std::size_t at = 0;
        while ((at = value.find_first_of("\r\n", at)) != std::string::npos) {
            const std::size_t length = value.compare(at, 2, "\r\n") == 0 ? 2 : 1;
            value.replace(at, length, "\r\n");
            at += 2;
        }
    }
    return same;
}

SyncPlan planSync(const std::vector<CardLink>& links, const std::vector<Record>& local, std::vector<RemoteCard> remote,
                  ConflictChoice choice, const std::vector<bool>& cardKept)
{
    SyncPlan plan;
    // Within what is reserved, only the pairs made take memory.
    plan.pairs.reserve(links.size() + local.size() + remote.size());
    // Keyed by the cards' own addresses, which stay in place until the links are planned.
    std::unordered_map<std::string_view, std::size_t> remoteAt;
    for (std::size_t i = 0; i < remote.size(); ++i)
        remoteAt.emplace(remote[i].href, i);
    std::vector<bool> remoteTaken(remote.size(), false);

    // Each link to the person who still holds its values, duplicates in the order they stand.
    RecordsByValues localByValues;
    for (std::size_t i = 0; i < local.size(); ++i)
        localByValues.add(local[i], i);
    std::vector<bool> localTaken(local.size(), false);
    std::vector<std::optional<std::size_t>> linkLocal(links.size());
    for (std::size_t l = 0; l < links.size(); ++l) {
        linkLocal[l] = localByValues.take(links[l].values);
        if (linkLocal[l])
            localTaken[*linkLocal[l]] = true;
    }
    // A person changed here: the one left over who shares the most values with the link.
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (linkLocal[l])
            continue;
        const int needed = std::min(2, filledValues(links[l].values));
        int best = 0;
        std::optional<std::size_t> bestAt;
        for (std::size_t i = 0; i < local.size() && needed > 0; ++i) {
            if (localTaken[i])
                continue;
            const int shared = sharedValues(links[l].values, local[i]);
            if (shared >= needed && shared > best) {
                best = shared;
                bestAt = i;
            }
        }
        if (bestAt) {
            linkLocal[l] = bestAt;
            localTaken[*bestAt] = true;
        }
    }
    // A person who holds little (a name alone) and changed part of it shares one value with their link:
    // theirs when neither has another such match left. Taken as removed and new instead, their card would be
    // made again without what it holds beyond the four values (a photo, an address). A link that holds
    // more is not matched by one value: a person removed and a relative added meanwhile share a surname,
    // and the one's card, photo and all, would become the other's.
    std::vector<std::optional<std::size_t>> soleSharer(links.size());
    std::unordered_map<std::size_t, int> linksSharing;
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (linkLocal[l] || filledValues(links[l].values) > 2)
            continue;
        int sharers = 0;
        for (std::size_t i = 0; i < local.size(); ++i) {
            if (!localTaken[i] && sharedValues(links[l].values, local[i]) > 0) {
                ++sharers;
                ++linksSharing[i];
                soleSharer[l] = i;
            }
        }
        if (sharers != 1)
            soleSharer[l].reset();
    }
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (soleSharer[l] && linksSharing[*soleSharer[l]] == 1) {
            linkLocal[l] = soleSharer[l];
            localTaken[*soleSharer[l]] = true;
        }
    }

    for (std::size_t l = 0; l < links.size(); ++l) {
        const CardLink& link = links[l];
        const bool kept = l < cardKept.size() && cardKept[l];
        if (kept && linkLocal[l] && local[*linkLocal[l]] == link.values) {
            plan.keptLinks.push_back(l);
            continue;
        }
        SyncPair pair;
        pair.local = linkLocal[l];
        pair.href = link.href;
        pair.etag = link.etag;
        pair.uid = link.uid;
        pair.base = link.values;
        pair.values = link.values;
        const auto at = kept ? remoteAt.end() : remoteAt.find(link.href);
        const RemoteCard* card = at == remoteAt.end() ? nullptr : &remote[at->second];
        if (card != nullptr)
            remoteTaken[at->second] = true;
        // An unreadable card is left as it was, and so is its person.
        if (card != nullptr && card->unreadable) {
            plan.pairs.push_back(std::move(pair));
            continue;
        }
        const bool localGone = !pair.local;
        const bool remoteGone = card == nullptr && !kept;
        const Record localNow = localGone ? link.values : local[*pair.local];
        const Record remoteNow = card == nullptr || !card->values ? link.values : *card->values;
        if (card != nullptr)
            pair.etag = card->etag;
        const bool localChanged = !localGone && localNow != link.values;
        const bool remoteChanged = !remoteGone && remoteNow != link.values;

        if (localGone && remoteGone) {
            pair.linked = false;
        } else if (localGone) {
            if (remoteChanged) {
                pair.keptAgainstRemoval = true;
                pair.values = remoteNow;
                pair.localAction = SyncPair::Local::Add;
            } else {
                pair.remoteAction = SyncPair::Remote::Remove;
                pair.linked = false;
                ++plan.remoteRemovals;
            }
        } else if (remoteGone) {
            if (localChanged) {
                pair.keptAgainstRemoval = true;
                pair.values = localNow;
                pair.href.clear();
                pair.etag.clear();
                pair.remoteAction = SyncPair::Remote::Create;
            } else {
                pair.localAction = SyncPair::Local::Remove;
                pair.linked = false;
                ++plan.localRemovals;
            }
        } else if (localChanged && remoteChanged) {
            mergeBoth(pair, localNow, remoteNow, choice);
            if (!pair.conflicts.empty())
                ++plan.conflicts;
        } else if (localChanged) {
            pair.values = localNow;
            pair.remoteAction = SyncPair::Remote::Change;
        } else if (remoteChanged) {
            pair.values = remoteNow;
            pair.localAction = SyncPair::Local::Change;
        }
        plan.pairs.push_back(std::move(pair));
    }

    remoteAt.clear();

    // New on both sides and equal: linked, never doubled. The cards' values are the keys here, so only
    // what is not a key moves out of a card.
    {
        RecordsByValues newCards;
        CardForms forms;
        // Only where a person is left to match (a first sync into an empty list has none).
        if (std::find(localTaken.begin(), localTaken.end(), false) != localTaken.end())
            for (std::size_t r = 0; r < remote.size(); ++r)
                if (!remoteTaken[r] && remote[r].values)
                    newCards.add(forms.of(*remote[r].values), r);
        for (std::size_t i = 0; i < local.size(); ++i) {
            if (localTaken[i])
                continue;
            SyncPair pair;
            pair.local = i;
            pair.base = local[i];
            pair.values = local[i];
            if (const std::optional<std::size_t> r = newCards.take(forms.of(local[i]))) {
                RemoteCard& card = remote[*r];
                remoteTaken[*r] = true;
                pair.href = std::move(card.href);
                pair.etag = std::move(card.etag);
                pair.uid = std::move(card.uid);
                // The person takes the card's line breaks: sent back, they would come back as the card's
                // again.
                if (*card.values != local[i]) {
                    pair.values = *card.values;
                    pair.localAction = SyncPair::Local::Change;
                }
            } else {
                pair.remoteAction = SyncPair::Remote::Create;
            }
            plan.pairs.push_back(std::move(pair));
        }
    }
    for (std::size_t r = 0; r < remote.size(); ++r) {
        if (remoteTaken[r] || !remote[r].values)
            continue;
        SyncPair pair;
        pair.href = std::move(remote[r].href);
        pair.etag = std::move(remote[r].etag);
        pair.uid = std::move(remote[r].uid);
        pair.values = std::move(*remote[r].values);
        pair.base = pair.values;
        pair.localAction = SyncPair::Local::Add;
        plan.pairs.push_back(std::move(pair));
    }
    return plan;
}

void settleConflict(SyncPlan& plan, SyncPair& pair, ConflictChoice choice)
{
    if (pair.conflicts.empty() || (choice != ConflictChoice::Local && choice != ConflictChoice::Remote))
        return;
    pair.conflicts.clear();
    --plan.conflicts;
    const std::shared_ptr<const SyncPair::Sides> sides = pair.sides;
    mergeBoth(pair, sides->local, sides->remote, choice);
}

bool removesMostOf(const SyncPlan& plan, std::size_t localCount, std::size_t remoteCount)
{
    return plan.localRemovals * 2 > localCount || plan.remoteRemovals * 2 > remoteCount;
}

} // namespace tesselby
