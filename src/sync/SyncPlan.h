#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/Record.h"

namespace tesselby {

// A person and a card the last sync left holding the same values; the sync's state keeps these.
struct CardLink {
    std::string href;
    std::string etag; // as the server last gave it; empty when it gave none
    std::string uid;
    Record values; // the four values both sides held then
};

// A card on the server now. values is empty for a linked card whose ETag has not changed (it was not
// fetched: it still holds its link's values) and for a card that cannot be read as a person.
struct RemoteCard {
    std::string href;
    std::string etag;
    std::string uid;
    std::optional<Record> values;
    bool unreadable = false;
};

// How a value changed on both sides to different values is settled. Ask plans as Keep; the sync then asks,
// person by person, and settles each one answered with settleConflict.
enum class ConflictChoice { Keep, Local, Remote, Ask };

// One person as the sync sees them: where they stand on each side and what is to be done on each.
struct SyncPair {
    enum class Local { Keep, Change, Remove, Add };
    enum class Remote { Keep, Change, Remove, Create };

    std::optional<std::size_t> local; // index of the person in the list as read
    std::string href;                 // the card; empty when it is to be created
    std::string etag;
    std::string uid;
    Record base;   // the values linked last time (or the values found, for a pair that is new)
    Record values; // what both sides hold once the sync is done
    Local localAction = Local::Keep;
    Remote remoteAction = Remote::Keep;
    // Fields (0..3) changed on both sides to different values and not settled: nothing is written
    // for the person, and the link keeps its values (the sync keeps it without an ETag, so that the next
    // sync asks again).
    std::vector<int> conflicts;
    // The conflicting values on each side, for the report and the question; held only for a conflict, as a
    // first sync of a large book holds a pair for every card.
    struct Sides {
        Record local;
        Record remote;
    };
    std::shared_ptr<const Sides> sides;
    // Removed on one side but changed on the other: kept, and sent back.
    bool keptAgainstRemoval = false;
    // The state keeps a link for it once the sync is done.
    bool linked = true;
};

struct SyncPlan {
    // One pair for each link not kept, in the links' order, then one for each person or card that is new.
    std::vector<SyncPair> pairs;
    // Links (by index, rising) whose person and card both still hold the link's values, the card as the
    // link left it: nothing is done for them and the state keeps them as they are. Only links whose cards
    // were given as kept (see planSync) are among them, so that a large book's unchanged people take
    // no pair.
    std::vector<std::size_t> keptLinks;
    std::size_t localRemovals = 0;
    std::size_t remoteRemovals = 0;
    std::size_t conflicts = 0;
};

// The values as a card carries them, whatever line breaks they were given with: a server hands a value's
// line break back as CR LF, so a person with a bare LF and the card made of them are the same person.
Record cardForm(const Record& values);

// What changed since the links were made, and what to do on each side: a person and a card that
// still hold their link's values are the link's (duplicates in the order they stand); a person who
// no longer does is matched to a link by at least two of its non-empty values (or its only one);
// what is left is new on its side, and new people and cards that agree on all four values are linked,
// not doubled. Every remote card but an unchanged linked one must come with its values.
// The cards are taken by value: what each holds moves into its pair. A link whose cardKept is set has its
// card on the server as the link left it (the same ETag) without the card being among remote, as if it
// were there unfetched.
SyncPlan planSync(const std::vector<CardLink>& links, const std::vector<Record>& local, std::vector<RemoteCard> remote,
                  ConflictChoice choice, const std::vector<bool>& cardKept = {});

// Settles a pair left with conflicts for this side (Local) or the server (Remote), as planSync does when
// told so: the fields changed on one side only are merged as ever.
void settleConflict(SyncPlan& plan, SyncPair& pair, ConflictChoice choice);

// Whether a plan removes more than half of a side's people.
bool removesMostOf(const SyncPlan& plan, std::size_t localCount, std::size_t remoteCount);

} // namespace tesselby
