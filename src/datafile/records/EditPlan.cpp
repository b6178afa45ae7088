#include "records/EditPlan.h"

namespace tesselby {

namespace {

constexpr int kFieldsThatMustStay = 2;

// How many of record number's non-empty loaded values record nowNumber of now holds.
int sharedValues(const RecordGrid& loaded, std::size_t number, const RecordGrid& now, std::size_t nowNumber)
{
    const Record values = loaded.record(number);
    int shared = 0;
    for (const Field field : kFields)
        shared += !values[field].empty() && loaded.sameItem(number, field, now, nowNumber) ? 1 : 0;
    return shared;
}

std::optional<std::size_t> findPerson(const RecordGrid& loaded, std::size_t number, const RecordGrid& now)
{
    if (loaded.sameRecord(number, now, number))
        return number;
    // When the loaded list held the person's values twice, only their place tells which one was shown.
    bool twinLoaded = false;
    for (std::size_t r = 1; r <= loaded.recordCount() && !twinLoaded; ++r)
        twinLoaded = r != number && loaded.sameRecord(number, loaded, r);
    std::optional<std::size_t> found;
    for (std::size_t r = 1; r <= now.recordCount() && !twinLoaded; ++r) {
        if (!loaded.sameRecord(number, now, r))
            continue;
        if (found)
            return std::nullopt; // two people alike: no telling which one was shown
        found = r;
    }
    if (found)
        return found;

    // Edited by another program in its place: between the same neighbours, most of it as it was, and
    // more like the person than like anyone else loaded (alike neighbours hide a shift). Empty fields
    // say nothing about who a record is.
    if (number > now.recordCount())
        return std::nullopt;
    const bool before = number == 1 || loaded.sameRecord(number - 1, now, number - 1);
    const bool after = number == loaded.recordCount() || loaded.sameRecord(number + 1, now, number + 1);
    if (!before || !after)
        return std::nullopt;
    // A twin of the person, moved, may be what stands beside them now: only a list in which everyone
    // else stands as loaded tells that this is the person, changed.
    for (std::size_t r = 1; r <= loaded.recordCount() && twinLoaded; ++r) {
        if (r != number && (r > now.recordCount() || !loaded.sameRecord(r, now, r)))
            return std::nullopt;
    }
    const int shared = sharedValues(loaded, number, now, number);
    if (shared < kFieldsThatMustStay)
        return std::nullopt;
    for (std::size_t r = 1; r <= loaded.recordCount(); ++r) {
        // A record that is someone else as loaded is them; one as much like someone else may be theirs,
        // even when someone alike still seems to stand in that one's place: people alike hide a shift.
        // A twin of the person is as like them as the person is, and was ruled out above.
        if (r == number || (twinLoaded && loaded.sameRecord(r, loaded, number)))
            continue;
        if (loaded.sameRecord(r, now, number) || sharedValues(loaded, r, now, number) >= shared)
            return std::nullopt;
    }
    return number;
}

} // namespace

RecordEdit editTo(const RecordGrid& grid, std::size_t number, const Record& values)
{
    const Record before = grid.record(number);
    RecordEdit edit;
    for (const Field field : kFields) {
        if (values[field] != before[field])
            edit[field] = FieldEdit{values[field], std::nullopt};
    }
    return edit;
}

EditPlan planEdit(const RecordGrid& loaded, std::size_t number, const RecordGrid& now, const RecordEdit& edit)
{
    EditPlan plan;
    const std::optional<std::size_t> at = findPerson(loaded, number, now);
    if (!at)
        return plan;
    plan.at = *at;
    const Record current = now.record(*at);
    for (const Field field : kFields) {
        const std::optional<FieldEdit>& changed = edit[field];
        if (!changed || changed->value == current[field])
            continue; // left alone, or already what the person wants: the stored bytes stay
        const bool changedElsewhere = !loaded.sameItem(number, field, now, *at);
        if (changedElsewhere && changed->replaces != current[field]) {
            plan.conflicts.push_back(EditConflict{field, changed->value, current[field]});
            continue;
        }
        plan.values[field] = changed->value;
    }
    plan.kind = plan.conflicts.empty() ? EditPlan::Kind::Write : EditPlan::Kind::Conflicts;
    return plan;
}

} // namespace tesselby
